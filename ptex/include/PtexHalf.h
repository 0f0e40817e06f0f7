// PtexHalf: a 16-bit IEEE half-float value with the library's exact conversions. Half to float
// is exact; float to half rounds to nearest with ties away from zero, as every Ptex file expects.
#ifndef PtexHalf_h
#define PtexHalf_h

#include "PtexExports.h"
#include "PtexInt.h"
#include "PtexVersion.h"

#include <string.h>

PTEX_NAMESPACE_BEGIN

struct PtexHalf {
    uint16_t bits;

    PtexHalf() {}
    PtexHalf(float val) : bits(fromFloat(val)) {}
    PtexHalf(double val) : bits(fromFloat(float(val))) {}
    operator float() const { return toFloat(bits); }
    PtexHalf& operator=(float val)
    {
        bits = fromFloat(val);
        return *this;
    }

    static float toFloat(uint16_t h)
    {
        uint32_t sign = uint32_t(h & 0x8000u) << 16;
        uint32_t exponent = (h >> 10) & 0x1fu;
        uint32_t mantissa = h & 0x3ffu;
        if (exponent == 0) {
            // Subnormal or zero: m * 2^-24 is exact in binary32; the sign is kept for -0.
            float magnitude = float(mantissa) * 5.9604644775390625e-08f;
            return sign ? -magnitude : magnitude;
        }
        uint32_t bits32 = exponent == 31 ? (sign | 0x7f800000u | (mantissa << 13))
                                         : (sign | ((exponent + 112) << 23) | (mantissa << 13));
        float result;
        memcpy(&result, &bits32, sizeof(result));
        return result;
    }

    static uint16_t fromFloat(float val)
    {
        // Both zeros give +0.
        if (val == 0.0f) return 0;
        uint32_t x;
        memcpy(&x, &val, sizeof(x));
        uint32_t exponent = (x >> 23) & 0xffu;
        if (exponent >= 113 && exponent <= 142) {
            // Half normal range: adding half an ulp rounds ties away from zero; a carry out of
            // the mantissa moves to the next exponent, up to infinity.
            uint32_t sign = (x >> 16) & 0x8000u;
            return uint16_t((sign | ((exponent - 112) << 10)) + (((x & 0x7fffffu) + 0x1000u) >> 13));
        }
        return fromFloat_except(x);
    }

private:
    PTEXAPI static uint16_t fromFloat_except(uint32_t val);
};

PTEX_NAMESPACE_END

using Ptex::PtexHalf;

#endif
