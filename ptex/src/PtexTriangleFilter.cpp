// Triangle filter: kernel construction, edge crossing and the incremental evaluation of the
// elliptical distance over each face's texels. The arithmetic follows the reference exactly:
// the hard cut-off at Q < 1 amplifies any change of rounding.
#include "PtexTriangleFilter.h"

#include <algorithm>
#include <cmath>

#include "PtexFilterMath.h"
#include "PtexHalf.h"

PTEX_NAMESPACE_BEGIN

using namespace FilterMath;

namespace {

// Edge crossings on consistent meshes stay around five deep; the bound stops inconsistent
// adjacency from recursing without end.
constexpr int kMaxDepth = 16;

// Footprint values beyond this already cover the whole neighbourhood; larger ones would
// overflow the products of the kernel construction.
constexpr float kMaxFootprint = 1024.0f;

constexpr float kSqrt3 = 1.73205078f;

float saneFootprint(float x)
{
    if (!std::isfinite(x)) return 0.0f;
    return fclamp(x, -kMaxFootprint, kMaxFootprint);
}

// ceil of a bound already known to be finite and small; clamped so that a degenerate value
// can never become an out-of-range integer.
int ceilIndex(float x) { return int(std::ceil(fclamp(x, -1.0e6f, 1.0e6f))); }

// How a point's (u, v, w) map into the neighbour across edge e whose own edge is ae: each new
// component is 1 - x or -x of one old component.
struct EdgeMap {
    int src[3];
    bool negate[3];  // -x instead of 1 - x
};

const EdgeMap kEdgeMaps[3][3] = {
    {{{0, 1, 2}, {false, true, false}}, {{2, 0, 1}, {false, false, true}}, {{1, 2, 0}, {true, false, false}}},
    {{{1, 2, 0}, {false, true, false}}, {{0, 1, 2}, {false, false, true}}, {{2, 0, 1}, {true, false, false}}},
    {{{2, 0, 1}, {false, true, false}}, {{1, 2, 0}, {false, false, true}}, {{0, 1, 2}, {true, false, false}}},
};

}  // namespace

// Walks the texels of one orientation (upright or inverted) whose centroids lie in the bounds.
struct PtexTriangleFilter::TexelIterator {
    float cu = 0, cv = 0;
    int u1 = 0, v1 = 0, w1 = 0, u2 = 0, v2 = 0, w2 = 0;
    float A = 0, B = 0, C = 0;
    float area = 0;
    bool valid() const { return u2 > u1 && v2 > v1 && w2 > w1; }
};

namespace {

// With WithData false only the weights are summed (constant data: the caller multiplies once).
template <typename T, int N, bool WithData>
float accumulateTexels(float cu, float cv, int u1, int v1, int w1, int u2, int v2, int w2, float A, float B, float C,
                       float area, int rowLen, const T* data, int nt, int nc, float* acc)
{
    const float DDQ = 2.0f * A;
    const int n = N > 0 ? N : nc;
    float weight = 0;
    v1 = std::max(v1, 0);
    v2 = std::min(v2, rowLen);
    if (WithData) {
        // Ask for every row's texels up front: the rows are far apart in memory, and the loads of
        // one row would otherwise wait until the arithmetic of the previous row is done.
        for (int y = v1; y < v2; y++) {
            const int xw = rowLen - y;
            const int x1 = std::max(std::max(u1, xw - w2), 0), x2 = std::min(std::min(u2, xw - w1), rowLen);
            if (x2 <= x1) continue;
            const T* row = data + size_t(y) * size_t(rowLen) * size_t(nt);
            __builtin_prefetch(row + size_t(x1) * size_t(nt));
            __builtin_prefetch(row + size_t(x2) * size_t(nt) - 1);
        }
    }
    for (int y = v1; y < v2; y++) {
        const int xw = rowLen - y;
        // The w index of texel (x, y) is rowLen - 1 - x - y; it must lie in [w1, w2).
        int x1 = std::max(u1, xw - w2);
        int x2 = std::min(u2, xw - w1);
        x1 = std::max(x1, 0);
        x2 = std::min(x2, rowLen);
        const float U = float(x1) - cu, V = float(y) - cv;
        float DQ = A * (2.0f * U + 1.0f) + B * V;
        float Q = (A * U) * U + (B * U + C * V) * V;
        const T* p = WithData ? data + (size_t(y) * size_t(rowLen) + size_t(std::max(x1, 0))) * size_t(nt) : nullptr;
        for (int x = x1; x < x2; x++) {
            if (Q < 1.0f) {
                const float wt = std::exp(-6.125f * Q) * area;
                weight += wt;
                if (WithData)
                    for (int c = 0; c < n; c++) acc[c] += float(p[c]) * wt;
            }
            Q = Q + DQ;
            DQ = DQ + DDQ;
            if (WithData) p += nt;
        }
    }
    return weight;
}

template <typename T>
float accumulateAnyChannels(const PtexTriangleFilter::TexelIterator& it, int rowLen, const T* data, int nt, int nc,
                            float* acc)
{
#define TARSK_TRI_ACCUM(N, D)                                                                                    \
    accumulateTexels<T, N, D>(it.cu, it.cv, it.u1, it.v1, it.w1, it.u2, it.v2, it.w2, it.A, it.B, it.C, it.area, \
                              rowLen, data, nt, nc, acc)
    if (!data) return TARSK_TRI_ACCUM(1, false);
    switch (nc) {
    case 1: return TARSK_TRI_ACCUM(1, true);
    case 2: return TARSK_TRI_ACCUM(2, true);
    case 3: return TARSK_TRI_ACCUM(3, true);
    case 4: return TARSK_TRI_ACCUM(4, true);
    default: return TARSK_TRI_ACCUM(0, true);
    }
#undef TARSK_TRI_ACCUM
}

// Runs the iterator over one packed image (or only sums weights when 'data' is null).
float accumulate(Ptex::DataType dt, const PtexTriangleFilter::TexelIterator& it, int rowLen, const void* data,
                 int firstchan, int nt, int nc, float* acc)
{
    switch (dt) {
    case Ptex::dt_uint8:
        return accumulateAnyChannels(it, rowLen, data ? static_cast<const uint8_t*>(data) + firstchan : nullptr, nt, nc,
                                     acc);
    case Ptex::dt_uint16:
        return accumulateAnyChannels(it, rowLen, data ? static_cast<const uint16_t*>(data) + firstchan : nullptr, nt,
                                     nc, acc);
    case Ptex::dt_half:
        return accumulateAnyChannels(it, rowLen, data ? static_cast<const PtexHalf*>(data) + firstchan : nullptr, nt,
                                     nc, acc);
    case Ptex::dt_float:
        return accumulateAnyChannels(it, rowLen, data ? static_cast<const float*>(data) + firstchan : nullptr, nt, nc,
                                     acc);
    }
    return 0;
}

void addConstant(Ptex::DataType dt, const void* texel, int firstchan, int nc, float weight, float* acc)
{
    for (int c = 0; c < nc; c++) {
        float value = 0;
        switch (dt) {
        case Ptex::dt_uint8: value = float(static_cast<const uint8_t*>(texel)[firstchan + c]); break;
        case Ptex::dt_uint16: value = float(static_cast<const uint16_t*>(texel)[firstchan + c]); break;
        case Ptex::dt_half: value = float(static_cast<const PtexHalf*>(texel)[firstchan + c]); break;
        case Ptex::dt_float: value = static_cast<const float*>(texel)[firstchan + c]; break;
        }
        acc[c] += value * weight;
    }
}

}  // namespace

PtexTriangleFilter::PtexTriangleFilter(PtexTexture* texture) : _tx(texture), _source(texture)
{
    _scratch.assign(size_t(std::max(texture->numChannels(), 1)), 0.0f);
}

void PtexTriangleFilter::buildKernel(TriangleKernel& k, float u, float v, float uw1, float vw1, float uw2, float vw2,
                                     float width, float blur, int faceLog2) const
{
    // Adjugate of the footprint covariance (width^2/4)(w1 w1' + w2 w2').
    const float sAC = (0.25f * width) * width;
    const float sB = -2.0f * sAC;
    float A = (vw1 * vw1 + vw2 * vw2) * sAC;
    float B = (uw1 * vw1 + uw2 * vw2) * sB;
    float C = (uw1 * uw1 + uw2 * uw2) * sAC;

    // In the equilateral ("Cartesian") frame x = u + v/2, y = (sqrt3/2) v.
    float Ac = 0.75f * A;
    const float Bc = (kSqrt3 / 2.0f) * (B - A);
    float Cc = (0.25f * A - 0.5f * B) + C;

    // Isotropic variance that keeps the eccentricity at most 15, at least half a texel, and blur.
    const float e = (15.0f * 15.0f + 1.0f) / (15.0f * 15.0f - 1.0f);
    const float X = std::sqrt((Ac - Cc) * (Ac - Cc) + Bc * Bc);
    const float be = 0.5f * (e * X - (Ac + Cc));
    const float N = float(1 << faceLog2);
    const float bt = (0.5f / N) * (0.5f / N);
    const float bb = (0.25f * blur) * blur;
    const float b = fmax(bb, fmax(be, bt));
    Ac = Ac + b;
    Cc = Cc + b;

    const float m = std::sqrt(2.0f * (Ac * Cc - (0.25f * Bc) * Bc) / ((Ac + Cc) + X));
    k.level = std::max(0, resFromWidth(2.0f * m));

    A = (4.0f / 3.0f) * Ac;
    B = (2.0f / kSqrt3) * Bc + A;
    C = (-0.25f * A + 0.5f * B) + Cc;

    // Cut-off at 3.5 standard deviations.
    A = A * 12.25f;
    B = B * 12.25f;
    C = C * 12.25f;
    const float eu = fmin(std::sqrt(C), 1.0f);
    const float ev = fmin(std::sqrt(A), 1.0f);
    const float ew = fmin(std::sqrt((A - B) + C), 1.0f);
    const float w = (1.0f - u) - v;
    k.u = u;
    k.v = v;
    k.u1 = u - eu;
    k.u2 = u + eu;
    k.v1 = v - ev;
    k.v2 = v + ev;
    k.w1 = w - ew;
    k.w2 = w + ew;
    k.A = A;
    k.B = B;
    k.C = C;
}

void PtexTriangleFilter::eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1,
                              float vw1, float uw2, float vw2, float width, float blur)
{
    if (!_tx || !result || nchannels <= 0) return;
    _numFaces = _tx->numFaces();
    if (faceid < 0 || faceid >= _numFaces) return;
    _nt = _tx->numChannels();
    _dt = _tx->dataType();
    if (int(_dt) < Ptex::dt_uint8 || int(_dt) > Ptex::dt_float) return;  // no texel size to read with
    // A channel range that starts outside the texture reads nothing and writes nothing.
    if (firstchan < 0 || firstchan >= _nt) return;
    _nc = std::min(nchannels, _nt - firstchan);
    _firstchan = firstchan;

    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    FaceDataSource::Section section(_source);
    if (info.isNeighborhoodConstant()) {
        PtexFaceData* data = _source.data(faceid, 0);
        if (data) {
            const char* texel = static_cast<const char*>(data->getData());
            if (texel) Ptex::ConvertToFloat(result, texel + size_t(firstchan) * size_t(Ptex::DataSize(_dt)), _dt, _nc);
            _source.done(data);
        }
        return;
    }

    if (_scratch.size() < size_t(_nt)) {
        // Only a texture that changed its channel count since the filter was made gets here.
        try {
            _scratch.assign(size_t(_nt), 0.0f);
        } catch (...) {
            return;
        }
    }
    _acc = _scratch.data();

    // Non-finite footprints would make every weight NaN: they count as no footprint.
    uw1 = saneFootprint(uw1);
    vw1 = saneFootprint(vw1);
    uw2 = saneFootprint(uw2);
    vw2 = saneFootprint(vw2);
    width = saneFootprint(width);
    blur = saneFootprint(blur);
    if (std::isnan(u)) u = 0;
    if (std::isnan(v)) v = 0;

    TriangleKernel k;
    buildKernel(k, fclamp(u, 0.0f, 1.0f), fclamp(v, 0.0f, 1.0f), uw1, vw1, uw2, vw2, width, blur, info.res.ulog2);
    evalKernel(k, faceid);

    // A footprint entirely beyond the hypotenuse of a border triangle reaches no texel:
    // evaluate at the point moved onto the triangle instead of returning 0/0.
    if (_weight == 0 && u + v > 1.0f) {
        const float s = 1.0f / (u + v);
        buildKernel(k, fclamp(u * s, 0.0f, 1.0f), fclamp(v * s, 0.0f, 1.0f), uw1, vw1, uw2, vw2, width, blur,
                    info.res.ulog2);
        evalKernel(k, faceid);
    }
    // A texture whose read failed meanwhile answers its zeros for the whole footprint.
    if (_weight == 0 || _source.failed()) {
        std::fill(result, result + _nc, 0.0f);
        return;
    }
    const float scale = 1.0f / (_weight * Ptex::OneValue(_dt));
    for (int c = 0; c < _nc; c++) result[c] = _acc[c] * scale;
}

void PtexTriangleFilter::evalKernel(const TriangleKernel& kernel, int faceid)
{
    std::fill(_acc, _acc + _nc, 0.0f);
    _weight = 0;
    TriangleKernel k = kernel;
    distribute(k, faceid, 0);
}

int PtexTriangleFilter::neighbor(const Ptex::FaceInfo& info, int edge) const
{
    const int f = info.adjface(edge);
    // Triangles have edges 0..2: an edge id of 3 cannot name a neighbour's edge.
    if (f < 0 || f >= _numFaces || info.adjedge(edge) > 2) return -1;
    return f;
}

void PtexTriangleFilter::distribute(TriangleKernel& k, int faceid, int depth)
{
    if (depth > kMaxDepth) return;
    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    if (k.u1 < 0 && neighbor(info, 2) >= 0) {
        TriangleKernel piece = k;
        piece.u2 = 0;
        k.u1 = 0;
        crossEdge(piece, faceid, 2, depth);
    }
    if (k.v1 < 0 && neighbor(info, 0) >= 0) {
        TriangleKernel piece = k;
        piece.v2 = 0;
        k.v1 = 0;
        crossEdge(piece, faceid, 0, depth);
    }
    if (k.w1 < 0 && neighbor(info, 1) >= 0) {
        TriangleKernel piece = k;
        piece.w2 = 0;
        k.w1 = 0;
        crossEdge(piece, faceid, 1, depth);
    }
    apply(k, faceid);
}

void PtexTriangleFilter::crossEdge(TriangleKernel& k, int faceid, int edge, int depth)
{
    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    const int nbr = neighbor(info, edge);
    if (nbr < 0) return;
    const int adjEdge = info.adjedge(edge);
    const EdgeMap& map = kEdgeMaps[edge][adjEdge];

    const float centre[3] = {k.u, k.v, (1.0f - k.u) - k.v};
    const float lower[3] = {k.u1, k.v1, k.w1};
    const float upper[3] = {k.u2, k.v2, k.w2};
    float nc[3], nlo[3], nhi[3];
    // Each rule is decreasing: a new lower bound comes from an old upper bound.
    for (int j = 0; j < 3; j++) {
        const int s = map.src[j];
        if (map.negate[j]) {
            nc[j] = -centre[s];
            nlo[j] = -upper[s];
            nhi[j] = -lower[s];
        } else {
            nc[j] = 1.0f - centre[s];
            nlo[j] = 1.0f - upper[s];
            nhi[j] = 1.0f - lower[s];
        }
    }
    TriangleKernel p = k;
    p.u = nc[0];
    p.v = nc[1];
    p.u1 = nlo[0];
    p.v1 = nlo[1];
    p.w1 = nlo[2];
    p.u2 = nhi[0];
    p.v2 = nhi[1];
    p.w2 = nhi[2];
    const float A = k.A, B = k.B, C = k.C;
    switch (((adjEdge - edge) % 3 + 3) % 3) {
    case 1:
        p.A = C;
        p.B = 2.0f * C - B;
        p.C = (A + C) - B;
        break;
    case 2:
        p.A = (A + C) - B;
        p.B = 2.0f * A - B;
        p.C = A;
        break;
    default: break;
    }
    distribute(p, nbr, depth + 1);
}

void PtexTriangleFilter::apply(TriangleKernel& k, int faceid)
{
    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    const int r = std::max(0, std::min(k.level, int(info.res.ulog2)));
    float u1 = fmax(k.u1, 0.0f), v1 = fmax(k.v1, 0.0f), w1 = fmax(k.w1, 0.0f);
    float u2 = fmin(k.u2, 1.0f - (v1 + w1));
    float v2 = fmin(k.v2, 1.0f - (w1 + u1));
    float w2 = fmin(k.w2, 1.0f - (u1 + v1));

    const int N = 1 << r;
    const float Nf = float(N);
    const float t = 1.0f / 3.0f;
    const float Finv = 1.0f / ((Nf * Nf) * (k.A * k.C - (0.25f * k.B) * k.B));
    const float Ak = k.A * Finv, Bk = k.B * Finv, Ck = k.C * Finv;
    const float area = 1.0f / (Nf * Nf);

    // Small-triangle centroids sit on integer coordinates after the shift by 1/3.
    TexelIterator upright;
    upright.cu = k.u * Nf - t;
    upright.cv = k.v * Nf - t;
    upright.u1 = ceilIndex(u1 * Nf - t);
    upright.v1 = ceilIndex(v1 * Nf - t);
    upright.w1 = ceilIndex(w1 * Nf - t);
    upright.u2 = ceilIndex(u2 * Nf - t);
    upright.v2 = ceilIndex(v2 * Nf - t);
    upright.w2 = ceilIndex(w2 * Nf - t);
    upright.A = Ak;
    upright.B = Bk;
    upright.C = Ck;
    upright.area = area;

    // Inverted texels are stored reflected by (u, v, w) -> (1 - v, 1 - u, -w).
    TexelIterator inverted;
    inverted.cu = (1.0f - k.v) * Nf - t;
    inverted.cv = (1.0f - k.u) * Nf - t;
    inverted.u1 = ceilIndex((1.0f - v2) * Nf - t);
    inverted.v1 = ceilIndex((1.0f - u2) * Nf - t);
    inverted.w1 = ceilIndex((-w2) * Nf - t);
    inverted.u2 = ceilIndex((1.0f - v1) * Nf - t);
    inverted.v2 = ceilIndex((1.0f - u1) * Nf - t);
    inverted.w2 = ceilIndex((-w1) * Nf - t);
    inverted.A = Ck;
    inverted.B = Bk;
    inverted.C = Ak;
    inverted.area = area;

    const bool runUpright = upright.valid(), runInverted = inverted.valid();
    if (!runUpright && !runInverted) return;
    PtexFaceData* data = _source.data(faceid, Ptex::Res(int8_t(r), int8_t(r)));
    if (!data) return;
    if (runUpright) runIterator(upright, data, N);
    if (runInverted) runIterator(inverted, data, N);
    _source.done(data);
}

void PtexTriangleFilter::runIterator(const TexelIterator& it, PtexFaceData* data, int levelRes)
{
    if (data->isConstant()) {
        const void* texel = data->getData();
        const float w = accumulate(_dt, it, levelRes, nullptr, 0, _nt, _nc, _acc);
        if (texel) addConstant(_dt, texel, _firstchan, _nc, w, _acc);
        _weight += w;
        return;
    }
    if (!data->isTiled()) {
        const void* texels = data->getData();
        if (!texels) return;
        _weight += accumulate(_dt, it, levelRes, texels, _firstchan, _nt, _nc, _acc);
        return;
    }

    const Ptex::Res tileRes = data->tileRes();
    if (tileRes.ulog2 < 0 || tileRes.vlog2 < 0) return;
    const int tw = 1 << tileRes.ulog2, th = 1 << tileRes.vlog2;
    if (tw > levelRes || th > levelRes) return;
    const int tilesU = levelRes / tw;
    const int ty1 = std::max(it.v1, 0) / th, ty2 = (std::min(it.v2, levelRes) - 1) / th;
    const int tx1 = std::max(it.u1, 0) / tw, tx2 = (std::min(it.u2, levelRes) - 1) / tw;
    for (int ty = ty1; ty <= ty2; ty++) {
        for (int tx = tx1; tx <= tx2; tx++) {
            const int uo = tx * tw, vo = ty * th;
            const int wo = (levelRes - tw) - uo - vo;
            TexelIterator local = it;
            local.cu = it.cu - float(uo);
            local.cv = it.cv - float(vo);
            local.u1 = std::max(0, it.u1 - uo);
            local.u2 = std::min(it.u2 - uo, tw);
            local.v1 = std::max(0, it.v1 - vo);
            local.v2 = std::min(it.v2 - vo, th);
            local.w1 = it.w1 - wo;
            local.w2 = it.w2 - wo;
            PtexFaceData* tile = _source.tile(data, ty * tilesU + tx);
            if (!tile) continue;
            const void* texels = tile->getData();
            float w = 0;
            if (texels) {
                if (tile->isConstant()) {
                    w = accumulate(_dt, local, tw, nullptr, 0, _nt, _nc, _acc);
                    addConstant(_dt, texels, _firstchan, _nc, w, _acc);
                } else {
                    w = accumulate(_dt, local, tw, texels, _firstchan, _nt, _nc, _acc);
                }
            }
            _weight += w;
            _source.done(tile);
        }
    }
}

PTEX_NAMESPACE_END
