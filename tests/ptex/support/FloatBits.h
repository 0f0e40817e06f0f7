// The bit pattern of a float and back, for tests that compare results bit for bit.
#pragma once

#include <cstdint>
#include <cstring>

namespace tarsk::test {

inline uint32_t floatBits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

inline float bitsFloat(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

}  // namespace tarsk::test
