// PtexUtils: the helper functions of the Ptex library that the reader and writer share:
// small integer/float helpers, image layout (interleave, difference coding, fill, copy), the
// exact reductions and averages, alpha premultiplication and the reduction face order.
#pragma once

#include "PtexHalf.h"
#include "Ptexture.h"

#include <cmath>
#include <cstdint>
#include <cstring>

PTEX_NAMESPACE_BEGIN

namespace PtexUtils {

inline bool isPowerOfTwo(int x) { return (x & (x - 1)) == 0; }

inline uint32_t ones(uint32_t x) { return uint32_t(__builtin_popcount(x)); }

// Index of the highest set bit; 0 for 0 and 1.
inline uint32_t floor_log2(uint32_t x) { return x <= 1 ? 0u : uint32_t(31 - __builtin_clz(x)); }

inline uint32_t ceil_log2(uint32_t x)
{
    const uint32_t f = floor_log2(x);
    return (x <= 1 || isPowerOfTwo(int(x))) ? f : f + 1;
}

// 2^-power built from the exponent bits (valid for -126 <= power <= 127).
inline float reciprocalPow2(int power)
{
    const uint32_t bits = uint32_t(127 - power) << 23;
    float result;
    std::memcpy(&result, &bits, sizeof(result));
    return result;
}

// -floor(log2 w) for normal positive w, read straight from the exponent bits (0 gives 127).
inline int calcResFromWidth(float w)
{
    uint32_t bits;
    std::memcpy(&bits, &w, sizeof(bits));
    return 127 - int((bits >> 23) & 0xff);
}

inline float smoothstep(float x, float a, float b)
{
    if (x < a) return 0.0f;
    if (x >= b) return 1.0f;
    const float t = (x - a) / (b - a);
    return (t * t) * (3.0f - 2.0f * t);
}

inline float qsmoothstep(float x, float a, float b)
{
    if (x < a) return 0.0f;
    if (x >= b) return 1.0f;
    const float t = (x - a) / (b - a);
    return ((t * t) * t) * (10.0f + t * (-15.0f + t * 6.0f));
}

template <typename T>
inline T abs(T x)
{
    return x > 0 ? x : -x;
}

inline float abs(float x)
{
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    bits &= 0x7fffffffu;
    std::memcpy(&x, &bits, sizeof(bits));
    return x;
}

template <typename T>
inline T min(T a, T b)
{
    return a < b ? a : b;
}
template <typename T>
inline T max(T a, T b)
{
    return a > b ? a : b;
}
template <typename T>
inline T clamp(T x, T lo, T hi)
{
    return min(max(x, lo), hi);
}

template <typename T>
inline T halve(T val)
{
    return T(val >> 1);
}
inline float halve(float val) { return 0.5f * val; }
inline PtexHalf halve(PtexHalf val) { return PtexHalf(0.5f * float(val)); }

template <typename T>
inline T quarter(T val)
{
    return T(val >> 2);
}
inline float quarter(float val) { return 0.25f * val; }
inline PtexHalf quarter(PtexHalf val) { return PtexHalf(0.25f * float(val)); }

PTEXAPI bool isConstant(const void* data, int stride, int ures, int vres, int pixelSize);
PTEXAPI void interleave(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                        int nchannels);
PTEXAPI void deinterleave(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                          int nchannels);
PTEXAPI void encodeDifference(void* data, int size, DataType dt);
PTEXAPI void decodeDifference(void* data, int size, DataType dt);
typedef void ReduceFn(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                      int nchannels);
PTEXAPI void reduce(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                    int nchannels);
PTEXAPI void reduceu(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                     int nchannels);
PTEXAPI void reducev(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                     int nchannels);
PTEXAPI void reduceTri(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt,
                       int nchannels);
PTEXAPI void average(const void* src, int sstride, int ures, int vres, void* dst, DataType dt, int nchannels);
PTEXAPI void fill(const void* src, void* dst, int dstride, int ures, int vres, int pixelsize);
PTEXAPI void copy(const void* src, int sstride, void* dst, int dstride, int nrows, int rowlen);
PTEXAPI void blend(const void* src, float weight, void* dst, bool flip, int rowlen, DataType dt, int nchannels);
PTEXAPI void multalpha(void* data, int npixels, DataType dt, int nchannels, int alphachan);
PTEXAPI void divalpha(void* data, int npixels, DataType dt, int nchannels, int alphachan);
PTEXAPI void genRfaceids(const FaceInfo* faces, int nfaces, uint32_t* rfaceids, uint32_t* faceids);

inline float floor(float f) { return std::floor(f); }
inline float ceil(float f) { return std::ceil(f); }

}  // namespace PtexUtils

PTEX_NAMESPACE_END
