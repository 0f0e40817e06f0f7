// Color: the four floats (red, green, blue, alpha) that a texture returns by value.
#pragma once

namespace TUtils {

struct Color {
    float r, g, b, a;
};

inline bool operator==(const Color& x, const Color& y) noexcept
{
    return x.r == y.r && x.g == y.g && x.b == y.b && x.a == y.a;
}

}  // namespace TUtils
