// The slow path of float to half conversion: subnormal results, overflow, infinity and NaN.

#include "PtexHalf.h"

PTEX_NAMESPACE_BEGIN

uint16_t PtexHalf::fromFloat_except(uint32_t x)
{
    uint16_t sign = uint16_t((x >> 16) & 0x8000u);
    uint32_t exponent = (x >> 23) & 0xffu;
    uint32_t mantissa = x & 0x7fffffu;
    if (exponent == 255) {
        uint16_t payload = uint16_t(mantissa >> 13);
        // A NaN whose payload lies only in the low 13 bits would otherwise become infinity;
        // it stays a (quiet) NaN.
        if (mantissa != 0 && payload == 0) return uint16_t(sign | 0x7e00u);
        return uint16_t(sign | 0x7c00u | payload);
    }
    if (exponent >= 143) return uint16_t(sign | 0x7c00u);
    // Half subnormal range and below: |x| * 2^24 is exact in double; +0.5 and floor round
    // ties away from zero, and values just below the smallest normal round up to 0x0400.
    uint32_t magnitudeBits = x & 0x7fffffffu;
    float magnitude;
    memcpy(&magnitude, &magnitudeBits, sizeof(magnitude));
    double scaled = double(magnitude) * 16777216.0 + 0.5;
    return uint16_t(sign | uint16_t(uint32_t(scaled)));
}

PTEX_NAMESPACE_END
