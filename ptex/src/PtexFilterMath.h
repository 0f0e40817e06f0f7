// Small float and integer helpers shared by the Ptex filters: resolution from a width,
// NaN-tolerant min/max/clamp with the exact semantics the filter arithmetic relies on.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "PtexVersion.h"

PTEX_NAMESPACE_BEGIN

namespace FilterMath {

// log2 of the texel count whose texel size is at most w and more than w/2, read from the
// exponent field of the float: positive normals give ceil(log2(1/w)); 0 gives 127, inf/NaN -128.
inline int resFromWidth(float w)
{
    uint32_t bits;
    std::memcpy(&bits, &w, sizeof bits);
    return 127 - int((bits >> 23) & 0xff);
}

// min/max keep the second operand when the comparison fails, so min(NaN, 1) = 1.
inline float fmin(float a, float b) { return a < b ? a : b; }
inline float fmax(float a, float b) { return a > b ? a : b; }
inline float fclamp(float x, float lo, float hi) { return fmin(fmax(x, lo), hi); }
inline int imin(int a, int b) { return a < b ? a : b; }
inline int imax(int a, int b) { return a > b ? a : b; }

// Clears the sign bit, so |NaN| stays NaN.
inline float fabsBits(float x) { return std::fabs(x); }

// Largest even integer <= i, also for negative i (two's complement).
inline int evenDown(int i) { return i & ~1; }
inline int evenUp(int i) { return evenDown(i + 1); }

// 2^e as an exact float, as ldexp(1.0f, e) gives it (subnormal below 2^-126, 0 below 2^-149,
// infinity above 2^127), built from its bits: the filters call it on every evaluation and the
// library call costs more than the rest of a kernel axis.
inline float exp2i(int e)
{
    uint32_t bits;
    if (e > 127)
        bits = 0x7f800000u;
    else if (e >= -126)
        bits = uint32_t(e + 127) << 23;
    else if (e >= -149)
        bits = uint32_t(1) << (e + 149);
    else
        bits = 0;
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// 2^-n as an exact float.
inline float p2(int n) { return exp2i(-n); }

// Float to int for values already known to lie in the int range.
inline int floorToInt(float x) { return int(std::floor(x)); }
inline int ceilToInt(float x) { return int(std::ceil(x)); }

}  // namespace FilterMath

PTEX_NAMESPACE_END
