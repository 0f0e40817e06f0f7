// Accumulation loops of the filters over raw texel data of each data type: a separable
// weight rectangle (row sums first, then rows weighted) and a constant value times a weight.
// Values are accumulated un-normalised; the filter divides by OneValue at the end.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "PtexHalf.h"
#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

namespace FilterAccum {

// target[c] += value(x, y)[c] * ku[x] * kv[y], summed per row in increasing x, rows in
// increasing y. 'texel' points at channel firstchan of the first texel of the rectangle;
// 'rowStride' and 'nt' are in values of T. 'scratch' holds nc floats (used when nc > 4).
template <typename T, int N>
inline void applyRect(const T* texel, int rowStride, int nt, int nu, int nv, const float* ku, const float* kv, int nc,
                      float* target, float* scratch)
{
    float fixedRow[std::max(N, 1)];
    float* row = N > 0 ? fixedRow : scratch;
    const int n = N > 0 ? N : nc;
    // Ask for every row up front, so that the rows' cache misses overlap instead of each row
    // waiting for the previous row's arithmetic.
    for (int y = 0; y < nv; y++) {
        const T* start = texel + ptrdiff_t(y) * rowStride;
        __builtin_prefetch(start);
        __builtin_prefetch(start + ptrdiff_t(nu) * nt - 1);
    }
    for (int y = 0; y < nv; y++, texel += rowStride) {
        const T* p = texel;
        const float k0 = ku[0];
        for (int c = 0; c < n; c++) row[c] = float(p[c]) * k0;
        p += nt;
        for (int x = 1; x < nu; x++, p += nt) {
            const float kx = ku[x];
            for (int c = 0; c < n; c++) row[c] += float(p[c]) * kx;
        }
        const float ky = kv[y];
        for (int c = 0; c < n; c++) target[c] += row[c] * ky;
    }
}

template <typename T>
inline void applyRectAnyChannels(const T* texel, int rowStride, int nt, int nu, int nv, const float* ku,
                                 const float* kv, int nc, float* target, float* scratch)
{
    switch (nc) {
    case 1: applyRect<T, 1>(texel, rowStride, nt, nu, nv, ku, kv, nc, target, scratch); break;
    case 2: applyRect<T, 2>(texel, rowStride, nt, nu, nv, ku, kv, nc, target, scratch); break;
    case 3: applyRect<T, 3>(texel, rowStride, nt, nu, nv, ku, kv, nc, target, scratch); break;
    case 4: applyRect<T, 4>(texel, rowStride, nt, nu, nv, ku, kv, nc, target, scratch); break;
    default: applyRect<T, 0>(texel, rowStride, nt, nu, nv, ku, kv, nc, target, scratch); break;
    }
}

// Dispatch on the data type. 'data' points at texel (0,0) channel 0 of a packed image whose
// rows hold 'rowLen' texels; the rectangle starts at texel (x0, y0), channel firstchan.
inline void applyRectToData(Ptex::DataType dt, const void* data, int rowLen, int nt, int firstchan, int x0, int y0,
                            int nu, int nv, const float* ku, const float* kv, int nc, float* target, float* scratch)
{
    const size_t offset = (size_t(y0) * size_t(rowLen) + size_t(x0)) * size_t(nt) + size_t(firstchan);
    const int rowStride = rowLen * nt;
    switch (dt) {
    case Ptex::dt_uint8:
        applyRectAnyChannels(static_cast<const uint8_t*>(data) + offset, rowStride, nt, nu, nv, ku, kv, nc, target,
                             scratch);
        break;
    case Ptex::dt_uint16:
        applyRectAnyChannels(static_cast<const uint16_t*>(data) + offset, rowStride, nt, nu, nv, ku, kv, nc, target,
                             scratch);
        break;
    case Ptex::dt_half:
        applyRectAnyChannels(static_cast<const PtexHalf*>(data) + offset, rowStride, nt, nu, nv, ku, kv, nc, target,
                             scratch);
        break;
    case Ptex::dt_float:
        applyRectAnyChannels(static_cast<const float*>(data) + offset, rowStride, nt, nu, nv, ku, kv, nc, target,
                             scratch);
        break;
    }
}

// target[c] += value[c] * weight for the nc channels starting at firstchan of one texel.
inline void applyConstant(Ptex::DataType dt, const void* texel, int firstchan, int nc, float weight, float* target)
{
    switch (dt) {
    case Ptex::dt_uint8: {
        const uint8_t* p = static_cast<const uint8_t*>(texel) + firstchan;
        for (int c = 0; c < nc; c++) target[c] += float(p[c]) * weight;
        break;
    }
    case Ptex::dt_uint16: {
        const uint16_t* p = static_cast<const uint16_t*>(texel) + firstchan;
        for (int c = 0; c < nc; c++) target[c] += float(p[c]) * weight;
        break;
    }
    case Ptex::dt_half: {
        const PtexHalf* p = static_cast<const PtexHalf*>(texel) + firstchan;
        for (int c = 0; c < nc; c++) target[c] += float(p[c]) * weight;
        break;
    }
    case Ptex::dt_float: {
        const float* p = static_cast<const float*>(texel) + firstchan;
        for (int c = 0; c < nc; c++) target[c] += p[c] * weight;
        break;
    }
    }
}

}  // namespace FilterAccum

PTEX_NAMESPACE_END
