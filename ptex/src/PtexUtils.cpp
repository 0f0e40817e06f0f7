// The PtexUtils helpers and the float conversions. Every reduction, average and alpha operation
// here reproduces the file format's arithmetic bit for bit: binary32 in the written order, no
// fused multiply-add (the library is built with -ffp-contract=off), truncation to integers.

#include "PtexUtils.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <numeric>
#include <type_traits>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace {

// Row pointer arithmetic in bytes; strides may be negative.
template <typename T>
const T* rowAt(const void* base, int stride, int row)
{
    return reinterpret_cast<const T*>(static_cast<const char*>(base) + ptrdiff_t(stride) * row);
}

template <typename T>
T* rowAt(void* base, int stride, int row)
{
    return reinterpret_cast<T*>(static_cast<char*>(base) + ptrdiff_t(stride) * row);
}

// Float to channel value: truncation for the integer types (clamped to the type's range so
// that out-of-range values are defined), the library's rounding for half, unchanged for float.
template <typename T>
T fromFloatValue(float x);

template <>
uint8_t fromFloatValue<uint8_t>(float x)
{
    if (!(x > 0.0f)) return 0;
    if (x >= 255.0f) return 255;
    return uint8_t(x);
}

template <>
uint16_t fromFloatValue<uint16_t>(float x)
{
    if (!(x > 0.0f)) return 0;
    if (x >= 65535.0f) return 65535;
    return uint16_t(x);
}

template <>
PtexHalf fromFloatValue<PtexHalf>(float x)
{
    return PtexHalf(x);
}
template <>
float fromFloatValue<float>(float x)
{
    return x;
}

// Sums of two and four values: exact integers for the integer types, binary32 in the order
// ((a + b) + c) + d for half and float.
template <typename T>
struct ReduceMath {
    static T two(T a, T b) { return T((unsigned(a) + unsigned(b)) >> 1); }
    static T four(T a, T b, T c, T d) { return T((unsigned(a) + unsigned(b) + unsigned(c) + unsigned(d)) >> 2); }
};

template <>
struct ReduceMath<float> {
    static float two(float a, float b) { return 0.5f * (a + b); }
    static float four(float a, float b, float c, float d) { return 0.25f * (((a + b) + c) + d); }
};

template <>
struct ReduceMath<PtexHalf> {
    static PtexHalf two(PtexHalf a, PtexHalf b) { return PtexHalf(0.5f * (float(a) + float(b))); }
    static PtexHalf four(PtexHalf a, PtexHalf b, PtexHalf c, PtexHalf d)
    {
        return PtexHalf(0.25f * (((float(a) + float(b)) + float(c)) + float(d)));
    }
};

template <typename T>
void reduceT(const void* src, int sstride, int ures, int vres, void* dst, int dstride, int nchan)
{
    const int dures = ures / 2, dvres = vres / 2;
    for (int j = 0; j < dvres; ++j) {
        const T* row0 = rowAt<T>(src, sstride, 2 * j);
        const T* row1 = rowAt<T>(src, sstride, 2 * j + 1);
        T* out = rowAt<T>(dst, dstride, j);
        for (int i = 0; i < dures; ++i) {
            const T* a = row0 + 2 * i * nchan;
            const T* c = row1 + 2 * i * nchan;
            for (int ch = 0; ch < nchan; ++ch)
                out[i * nchan + ch] = ReduceMath<T>::four(a[ch], a[nchan + ch], c[ch], c[nchan + ch]);
        }
    }
}

template <typename T>
void reduceuT(const void* src, int sstride, int ures, int vres, void* dst, int dstride, int nchan)
{
    const int dures = ures / 2;
    for (int j = 0; j < vres; ++j) {
        const T* row = rowAt<T>(src, sstride, j);
        T* out = rowAt<T>(dst, dstride, j);
        for (int i = 0; i < dures; ++i) {
            const T* a = row + 2 * i * nchan;
            for (int ch = 0; ch < nchan; ++ch) out[i * nchan + ch] = ReduceMath<T>::two(a[ch], a[nchan + ch]);
        }
    }
}

template <typename T>
void reducevT(const void* src, int sstride, int ures, int vres, void* dst, int dstride, int nchan)
{
    const int dvres = vres / 2;
    for (int j = 0; j < dvres; ++j) {
        const T* row0 = rowAt<T>(src, sstride, 2 * j);
        const T* row1 = rowAt<T>(src, sstride, 2 * j + 1);
        T* out = rowAt<T>(dst, dstride, j);
        for (int k = 0; k < ures * nchan; ++k) out[k] = ReduceMath<T>::two(row0[k], row1[k]);
    }
}

// Triangle reduction: three upright sub-triangles at (2i,2j), (2i+1,2j), (2i,2j+1) plus the
// inverted one in the middle, which the packing stores mirrored at (w-1-2j, w-1-2i).
template <typename T>
void reduceTriT(const void* src, int sstride, int w, void* dst, int dstride, int nchan)
{
    const int dw = w / 2;
    for (int j = 0; j < dw; ++j) {
        const T* row0 = rowAt<T>(src, sstride, 2 * j);
        const T* row1 = rowAt<T>(src, sstride, 2 * j + 1);
        T* out = rowAt<T>(dst, dstride, j);
        for (int i = 0; i < dw; ++i) {
            const T* a = row0 + 2 * i * nchan;
            const T* c = row1 + 2 * i * nchan;
            const T* d = rowAt<T>(src, sstride, w - 1 - 2 * i) + (w - 1 - 2 * j) * nchan;
            for (int ch = 0; ch < nchan; ++ch)
                out[i * nchan + ch] = ReduceMath<T>::four(a[ch], a[nchan + ch], c[ch], d[ch]);
        }
    }
}

template <typename T>
void averageT(const void* src, int sstride, int ures, int vres, void* dst, int nchan)
{
    T* out = static_cast<T*>(dst);
    const int64_t count = int64_t(ures) * vres;
    if (count <= 0) return;
    // A single-precision sum stops growing past 2^24 terms; larger faces sum in double.
    if (count > (int64_t(1) << 24)) {
        std::vector<double> sum(size_t(nchan), 0.0);
        for (int v = 0; v < vres; ++v) {
            const T* row = rowAt<T>(src, sstride, v);
            for (int u = 0; u < ures; ++u)
                for (int ch = 0; ch < nchan; ++ch) sum[size_t(ch)] += double(float(row[u * nchan + ch]));
        }
        // Integer types truncate the double mean itself: rounding it to float first could
        // carry 254.99999 up to 255.
        for (int ch = 0; ch < nchan; ++ch) {
            const double mean = sum[size_t(ch)] / double(count);
            if (std::is_integral<T>::value)
                out[ch] = T(mean);
            else
                out[ch] = fromFloatValue<T>(float(mean));
        }
        return;
    }
    std::vector<float> sum(size_t(nchan), 0.0f);
    for (int v = 0; v < vres; ++v) {
        const T* row = rowAt<T>(src, sstride, v);
        for (int u = 0; u < ures; ++u)
            for (int ch = 0; ch < nchan; ++ch) sum[size_t(ch)] += float(row[u * nchan + ch]);
    }
    const float scale = 1.0f / float(count);
    for (int ch = 0; ch < nchan; ++ch) out[ch] = fromFloatValue<T>(sum[size_t(ch)] * scale);
}

template <typename T>
void blendT(const void* src, float weight, void* dst, bool flip, int rowlen, int nchan)
{
    const T* in = static_cast<const T*>(src);
    T* out = static_cast<T*>(dst);
    for (int k = 0; k < rowlen; ++k) {
        T* texel = out + (flip ? rowlen - 1 - k : k) * nchan;
        for (int ch = 0; ch < nchan; ++ch) {
            const T weighted = fromFloatValue<T>(weight * float(in[k * nchan + ch]));
            texel[ch] = T(texel[ch] + weighted);
        }
    }
}

template <>
void blendT<PtexHalf>(const void* src, float weight, void* dst, bool flip, int rowlen, int nchan)
{
    const PtexHalf* in = static_cast<const PtexHalf*>(src);
    PtexHalf* out = static_cast<PtexHalf*>(dst);
    for (int k = 0; k < rowlen; ++k) {
        PtexHalf* texel = out + (flip ? rowlen - 1 - k : k) * nchan;
        for (int ch = 0; ch < nchan; ++ch)
            texel[ch] = PtexHalf(float(texel[ch]) + float(PtexHalf(weight * float(in[k * nchan + ch]))));
    }
}

// Channels affected by premultiplication: all but alpha when alpha is channel 0, otherwise only
// the channels before the alpha channel.
void alphaChannelRange(int nchannels, int alphachan, int& first, int& last)
{
    if (alphachan == 0) {
        first = 1;
        last = nchannels;
    } else {
        first = 0;
        last = alphachan;
    }
}

template <typename T>
void multalphaT(void* data, int npixels, int nchan, int alphachan, float scale)
{
    int first, last;
    alphaChannelRange(nchan, alphachan, first, last);
    T* texel = static_cast<T*>(data);
    for (int p = 0; p < npixels; ++p, texel += nchan) {
        const float a = scale * float(texel[alphachan]);
        for (int ch = first; ch < last; ++ch) texel[ch] = fromFloatValue<T>(float(texel[ch]) * a);
    }
}

template <typename T>
void divalphaT(void* data, int npixels, int nchan, int alphachan, float scale)
{
    int first, last;
    alphaChannelRange(nchan, alphachan, first, last);
    T* texel = static_cast<T*>(data);
    for (int p = 0; p < npixels; ++p, texel += nchan) {
        const float alpha = float(texel[alphachan]);
        if (alpha == 0.0f) continue;
        const float a = scale / alpha;
        for (int ch = first; ch < last; ++ch) texel[ch] = fromFloatValue<T>(float(texel[ch]) * a);
    }
}

template <typename T>
void encodeDifferenceT(void* data, int size)
{
    T* p = static_cast<T*>(data);
    const int n = size / int(sizeof(T));
    T prev = 0;
    for (int k = 0; k < n; ++k) {
        const T x = p[k];
        p[k] = T(x - prev);
        prev = x;
    }
}

template <typename T>
void decodeDifferenceT(void* data, int size)
{
    T* p = static_cast<T*>(data);
    const int n = size / int(sizeof(T));
    T prev = 0;
    for (int k = 0; k < n; ++k) {
        prev = T(p[k] + prev);
        p[k] = prev;
    }
}

template <typename T>
void deinterleaveT(const void* src, int sstride, int ures, int vres, void* dst, int dstride, int nchan)
{
    for (int ch = 0; ch < nchan; ++ch)
        for (int v = 0; v < vres; ++v) {
            const T* in = rowAt<T>(src, sstride, v) + ch;
            T* out = rowAt<T>(dst, dstride, ch * vres + v);
            for (int u = 0; u < ures; ++u) out[u] = in[u * nchan];
        }
}

template <typename T>
void interleaveT(const void* src, int sstride, int ures, int vres, void* dst, int dstride, int nchan)
{
    for (int ch = 0; ch < nchan; ++ch)
        for (int v = 0; v < vres; ++v) {
            const T* in = rowAt<T>(src, sstride, ch * vres + v);
            T* out = rowAt<T>(dst, dstride, v) + ch;
            for (int u = 0; u < ures; ++u) out[u * nchan] = in[u];
        }
}

bool validDataType(DataType dt) { return int(dt) >= 0 && int(dt) <= 3; }

}  // namespace

namespace PtexUtils {

bool isConstant(const void* data, int stride, int ures, int vres, int pixelSize)
{
    if (!data || ures <= 0 || vres <= 0 || pixelSize <= 0) return true;
    const char* first = static_cast<const char*>(data);
    const size_t rowlen = size_t(ures) * size_t(pixelSize);
    for (int v = 1; v < vres; ++v)
        if (std::memcmp(first, first + ptrdiff_t(stride) * v, rowlen) != 0) return false;
    for (int u = 1; u < ures; ++u)
        if (std::memcmp(first, first + size_t(u) * size_t(pixelSize), size_t(pixelSize)) != 0) return false;
    return true;
}

void interleave(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: interleaveT<uint8_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_uint16:
    case dt_half: interleaveT<uint16_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_float: interleaveT<uint32_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    }
}

void deinterleave(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: deinterleaveT<uint8_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_uint16:
    case dt_half: deinterleaveT<uint16_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_float: deinterleaveT<uint32_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    }
}

void encodeDifference(void* data, int size, DataType dt)
{
    if (dt == dt_uint8)
        encodeDifferenceT<uint8_t>(data, size);
    else if (dt == dt_uint16)
        encodeDifferenceT<uint16_t>(data, size);
}

void decodeDifference(void* data, int size, DataType dt)
{
    if (dt == dt_uint8)
        decodeDifferenceT<uint8_t>(data, size);
    else if (dt == dt_uint16)
        decodeDifferenceT<uint16_t>(data, size);
}

void reduce(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: reduceT<uint8_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_uint16: reduceT<uint16_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_half: reduceT<PtexHalf>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_float: reduceT<float>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    }
}

void reduceu(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: reduceuT<uint8_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_uint16: reduceuT<uint16_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_half: reduceuT<PtexHalf>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_float: reduceuT<float>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    }
}

void reducev(const void* src, int sstride, int ures, int vres, void* dst, int dstride, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: reducevT<uint8_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_uint16: reducevT<uint16_t>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_half: reducevT<PtexHalf>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    case dt_float: reducevT<float>(src, sstride, ures, vres, dst, dstride, nchannels); break;
    }
}

void reduceTri(const void* src, int sstride, int ures, int /*vres*/, void* dst, int dstride, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: reduceTriT<uint8_t>(src, sstride, ures, dst, dstride, nchannels); break;
    case dt_uint16: reduceTriT<uint16_t>(src, sstride, ures, dst, dstride, nchannels); break;
    case dt_half: reduceTriT<PtexHalf>(src, sstride, ures, dst, dstride, nchannels); break;
    case dt_float: reduceTriT<float>(src, sstride, ures, dst, dstride, nchannels); break;
    }
}

void average(const void* src, int sstride, int ures, int vres, void* dst, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: averageT<uint8_t>(src, sstride, ures, vres, dst, nchannels); break;
    case dt_uint16: averageT<uint16_t>(src, sstride, ures, vres, dst, nchannels); break;
    case dt_half: averageT<PtexHalf>(src, sstride, ures, vres, dst, nchannels); break;
    case dt_float: averageT<float>(src, sstride, ures, vres, dst, nchannels); break;
    }
}

void fill(const void* src, void* dst, int dstride, int ures, int vres, int pixelsize)
{
    if (ures <= 0 || vres <= 0 || pixelsize <= 0) return;
    char* first = static_cast<char*>(dst);
    for (int u = 0; u < ures; ++u) std::memcpy(first + size_t(u) * size_t(pixelsize), src, size_t(pixelsize));
    const size_t rowlen = size_t(ures) * size_t(pixelsize);
    for (int v = 1; v < vres; ++v) {
        char* row = first + ptrdiff_t(dstride) * v;
        if (row != first) std::memcpy(row, first, rowlen);
    }
}

void copy(const void* src, int sstride, void* dst, int dstride, int nrows, int rowlen)
{
    if (nrows <= 0 || rowlen <= 0) return;
    if (sstride == rowlen && dstride == rowlen) {
        std::memcpy(dst, src, size_t(nrows) * size_t(rowlen));
        return;
    }
    for (int r = 0; r < nrows; ++r)
        std::memcpy(static_cast<char*>(dst) + ptrdiff_t(dstride) * r,
                    static_cast<const char*>(src) + ptrdiff_t(sstride) * r, size_t(rowlen));
}

void blend(const void* src, float weight, void* dst, bool flip, int rowlen, DataType dt, int nchannels)
{
    switch (dt) {
    case dt_uint8: blendT<uint8_t>(src, weight, dst, flip, rowlen, nchannels); break;
    case dt_uint16: blendT<uint16_t>(src, weight, dst, flip, rowlen, nchannels); break;
    case dt_half: blendT<PtexHalf>(src, weight, dst, flip, rowlen, nchannels); break;
    case dt_float: blendT<float>(src, weight, dst, flip, rowlen, nchannels); break;
    }
}

void multalpha(void* data, int npixels, DataType dt, int nchannels, int alphachan)
{
    // Without a valid alpha channel there is nothing to premultiply.
    if (alphachan < 0 || alphachan >= nchannels || !validDataType(dt)) return;
    const float scale = OneValueInv(dt);
    switch (dt) {
    case dt_uint8: multalphaT<uint8_t>(data, npixels, nchannels, alphachan, scale); break;
    case dt_uint16: multalphaT<uint16_t>(data, npixels, nchannels, alphachan, scale); break;
    case dt_half: multalphaT<PtexHalf>(data, npixels, nchannels, alphachan, scale); break;
    case dt_float: multalphaT<float>(data, npixels, nchannels, alphachan, scale); break;
    }
}

void divalpha(void* data, int npixels, DataType dt, int nchannels, int alphachan)
{
    if (alphachan < 0 || alphachan >= nchannels || !validDataType(dt)) return;
    const float scale = OneValue(dt);
    switch (dt) {
    case dt_uint8: divalphaT<uint8_t>(data, npixels, nchannels, alphachan, scale); break;
    case dt_uint16: divalphaT<uint16_t>(data, npixels, nchannels, alphachan, scale); break;
    case dt_half: divalphaT<PtexHalf>(data, npixels, nchannels, alphachan, scale); break;
    case dt_float: divalphaT<float>(data, npixels, nchannels, alphachan, scale); break;
    }
}

void genRfaceids(const FaceInfo* faces, int nfaces, uint32_t* rfaceids, uint32_t* faceids)
{
    if (nfaces <= 0) return;
    // Constant faces sort as if their smaller side were 2 texels: they are never reduced.
    auto key = [faces](uint32_t f) {
        const FaceInfo& fi = faces[f];
        return fi.isConstant() ? 1 : std::min(int(fi.res.ulog2), int(fi.res.vlog2));
    };
    std::iota(faceids, faceids + nfaces, 0u);
    std::stable_sort(faceids, faceids + nfaces, [&key](uint32_t a, uint32_t b) { return key(a) > key(b); });
    for (int r = 0; r < nfaces; ++r) rfaceids[faceids[r]] = uint32_t(r);
}

}  // namespace PtexUtils

void ConvertToFloat(float* dst, const void* src, DataType dt, int numChannels)
{
    switch (dt) {
    case dt_uint8: {
        const uint8_t* in = static_cast<const uint8_t*>(src);
        const float scale = 1.f / 255.f;
        for (int i = 0; i < numChannels; ++i) dst[i] = float(in[i]) * scale;
        break;
    }
    case dt_uint16: {
        const uint16_t* in = static_cast<const uint16_t*>(src);
        const float scale = 1.f / 65535.f;
        for (int i = 0; i < numChannels; ++i) dst[i] = float(in[i]) * scale;
        break;
    }
    case dt_half: {
        const PtexHalf* in = static_cast<const PtexHalf*>(src);
        // x * 1 + 0 turns a negative zero into +0, as readers of half data expect.
        for (int i = 0; i < numChannels; ++i) dst[i] = float(in[i]) * 1.0f + 0.0f;
        break;
    }
    case dt_float: std::memcpy(dst, src, sizeof(float) * size_t(numChannels > 0 ? numChannels : 0)); break;
    }
}

void ConvertFromFloat(void* dst, const float* src, DataType dt, int numChannels)
{
    switch (dt) {
    case dt_uint8: {
        uint8_t* out = static_cast<uint8_t*>(dst);
        // Rounds by adding 0.5 and truncating, the conversion stored files were written with.
        for (int i = 0; i < numChannels; ++i)
            // NOLINTNEXTLINE(bugprone-incorrect-roundings)
            out[i] = uint8_t(PtexUtils::clamp(src[i], 0.0f, 1.0f) * 255.0f + 0.5f);
        break;
    }
    case dt_uint16: {
        uint16_t* out = static_cast<uint16_t*>(dst);
        for (int i = 0; i < numChannels; ++i)
            // NOLINTNEXTLINE(bugprone-incorrect-roundings)
            out[i] = uint16_t(PtexUtils::clamp(src[i], 0.0f, 1.0f) * 65535.0f + 0.5f);
        break;
    }
    case dt_half: {
        PtexHalf* out = static_cast<PtexHalf*>(dst);
        for (int i = 0; i < numChannels; ++i) out[i] = PtexHalf(src[i]);
        break;
    }
    case dt_float: std::memcpy(dst, src, sizeof(float) * size_t(numChannels > 0 ? numChannels : 0)); break;
    }
}

PTEX_NAMESPACE_END
