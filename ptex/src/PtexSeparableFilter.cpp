// Separable quad filters: preamble, kernel construction, transport across edges and corners,
// application to face data, normalisation.
#include "PtexSeparableFilter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "PtexFilterAccum.h"
#include "PtexFilterMath.h"

PTEX_NAMESPACE_BEGIN

using namespace FilterMath;

namespace {

// Distribute recursion only happens through subfaces and T-junctions (at most three levels on
// consistent meshes); the bound keeps inconsistent adjacency from recursing without end.
constexpr int kMaxDepth = 16;

// Corner walks give up after this many faces around one vertex.
constexpr int kMaxCornerFaces = 10;

bool borderIsBlack(Ptex::BorderMode m) { return m == Ptex::m_black; }

// Border modes beyond the known values are treated as clamp. Readers report a file's raw value,
// which may lie outside the enumeration's range, so it is taken as an integer: reading such a
// value through the enum type is undefined.
Ptex::BorderMode sanitizeBorder(int m)
{
    return m == Ptex::m_black ? Ptex::m_black : m == Ptex::m_periodic ? Ptex::m_periodic : Ptex::m_clamp;
}

}  // namespace

PtexSeparableFilter::PtexSeparableFilter(PtexTexture* texture, const PtexFilter::Options& options, Shape shape,
                                         float sharpness)
    : _tx(texture),
      _source(texture),
      _shape(shape),
      _lerp(options.lerp),
      _noedgeblend(false),
      _cubic(sharpness),
      _nt(texture->numChannels()),
      _dt(texture->dataType()),
      _uMode(sanitizeBorder(static_cast<int>(texture->uBorderMode()))),
      _vMode(sanitizeBorder(static_cast<int>(texture->vBorderMode()))),
      _tanvec(static_cast<int>(texture->edgeFilterMode()) == Ptex::efm_tanvec)
{
    // An older caller's Options may end before noedgeblend: only read it when it is there.
    if (options.__structSize >= int(offsetof(PtexFilter::Options, noedgeblend) + sizeof(bool)))
        _noedgeblend = options.noedgeblend;
    // A texture reporting an unknown data type has no texel size to read with: such a filter
    // writes nothing (no channel counts as present).
    if (int(_dt) < Ptex::dt_uint8 || int(_dt) > Ptex::dt_float) {
        _dt = Ptex::dt_uint8;
        _nt = 0;
    }
    if (_nt < 0) _nt = 0;
    _scratch.assign(size_t(3) * size_t(std::max(_nt, 1)), 0.0f);
}

void PtexSeparableFilter::release() { delete this; }

void PtexSeparableFilter::buildAxis(KernelAxis& axis, float c, float w, int n)
{
    switch (_shape) {
    case Shape::bilinear: buildBilinearAxis(axis, c, w, n); break;
    case Shape::box: buildBoxAxis(axis, c, w, n); break;
    case Shape::gaussian: buildWidth4Axis(axis, c, w, n, _lerp, GaussianFunction()); break;
    case Shape::cubic: buildWidth4Axis(axis, c, w, n, _lerp, _cubic); break;
    }
}

// Where an axis of the kernel will lie (level, texel range), worked out ahead of the weights
// and only as a hint for prefetching: the builders' placement, with a texel of margin instead
// of their exact rounding.
// False for the widths whose kernels only touch the few texels of the coarsest levels.
bool PtexSeparableFilter::footprintAxis(float c, float w, int n, int& log2, int& first, int& end) const
{
    if (!(w < 0.25f) || !(c >= 0.0f && c <= 1.0f)) return false;
    if (_shape == Shape::bilinear) w = fmin(w, 1.0f);
    w = fmax(w, p2(n));
    const int a = resFromWidth(w);
    if (a < 0 || a > n) return false;
    const float R = float(1 << a);
    float lo = 0, hi = 0;
    switch (_shape) {
    case Shape::bilinear: lo = c * R - 0.5f, hi = lo + 1.0f; break;
    case Shape::box: lo = (c - 0.5f * w) * R, hi = (c + 0.5f * w) * R; break;
    case Shape::gaussian:
    case Shape::cubic: lo = c * R - 0.5f - 2.0f * w * R, hi = c * R - 0.5f + 2.0f * w * R; break;
    }
    // lo and hi lie within a few texels of [0, R], so truncation plus a texel of margin on
    // each side covers floor and ceil.
    log2 = a;
    first = imax(int(lo) - 1, 0);
    end = imin(int(hi) + 2, 1 << a);
    return first < end;
}

// Starts the loads of the texels a kernel will read on the face itself, so that their cache
// misses overlap with building the weights instead of following it. Only a hint: any data
// that is not at hand is skipped, and nothing read here affects the result.
void PtexSeparableFilter::prefetchFootprint(int faceid, float u, float v, float uw, float vw, const Ptex::Res& faceRes)
{
    int ul = 0, u0 = 0, u1 = 0, vl = 0, v0 = 0, v1 = 0;
    if (!footprintAxis(u, uw, faceRes.ulog2, ul, u0, u1) || !footprintAxis(v, vw, faceRes.vlog2, vl, v0, v1)) return;
    PtexFaceData* data = _source.data(faceid, Ptex::Res(int8_t(ul), int8_t(vl)));
    if (!data) return;
    const char* texels = nullptr;
    PtexFaceData* tile = nullptr;
    int rowLen = 1 << ul;
    if (data->isTiled()) {
        // The tile of the footprint's first texel; footprints are small next to tiles.
        const Ptex::Res tileRes = data->tileRes();
        if (tileRes.ulog2 >= 0 && tileRes.vlog2 >= 0 && tileRes.ulog2 <= ul && tileRes.vlog2 <= vl) {
            const int tw = 1 << tileRes.ulog2, th = 1 << tileRes.vlog2;
            tile = _source.tile(data, (v0 / th) * (rowLen / tw) + u0 / tw);
            if (tile && !tile->isConstant()) {
                texels = static_cast<const char*>(tile->getData());
                rowLen = tw;
                u1 = imin(u1 - (u0 / tw) * tw, tw);
                v1 = imin(v1 - (v0 / th) * th, th);
                u0 %= tw;
                v0 %= th;
            }
        }
    } else if (!data->isConstant()) {
        texels = static_cast<const char*>(data->getData());
    }
    if (texels && u0 < u1) {
        const size_t texelBytes = size_t(_nt) * size_t(Ptex::DataSize(_dt));
        for (int y = v0; y < v1; y++) {
            const char* row = texels + (size_t(y) * size_t(rowLen) + size_t(u0)) * texelBytes;
            __builtin_prefetch(row);
            __builtin_prefetch(row + size_t(u1 - u0) * texelBytes - 1);
        }
    }
    _source.done(tile);
    _source.done(data);
}

void PtexSeparableFilter::buildKernel(SeparableKernel& k, float u, float v, float uw, float vw, int ulog2, int vlog2)
{
    KernelAxis au, av;
    au.weights = k.ku;
    av.weights = k.kv;
    buildAxis(au, u, uw, ulog2);
    buildAxis(av, v, vw, vlog2);
    k.ulog2 = au.log2;
    k.u = au.start;
    k.uw = au.size;
    k.vlog2 = av.log2;
    k.v = av.start;
    k.vw = av.size;
    k.rot = 0;
}

void PtexSeparableFilter::eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1,
                               float vw1, float uw2, float vw2, float width, float blur)
{
    if (!_tx || !result || nchannels <= 0) return;
    const int numFaces = _tx->numFaces();
    if (faceid < 0 || faceid >= numFaces) return;
    // A channel range that starts outside the texture reads nothing and writes nothing.
    if (firstchan < 0 || firstchan >= _nt) return;
    const int nc = std::min(nchannels, _nt - firstchan);
    const int dsize = Ptex::DataSize(_dt);

    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    FaceDataSource::Section section(_source);

    // Face and neighbours hold one value: return it directly. Skipped for tangent vectors,
    // whose neighbours may hold that value in a rotated frame.
    if (info.isNeighborhoodConstant() && !(_tanvec && nc >= 2)) {
        PtexFaceData* data = _source.data(faceid, 0);
        if (data) {
            const char* texel = static_cast<const char*>(data->getData());
            if (texel) Ptex::ConvertToFloat(result, texel + size_t(firstchan) * size_t(dsize), _dt, nc);
            _source.done(data);
        }
        return;
    }

    const float uw = fabsBits(uw1) + fabsBits(uw2);
    const float vw = fabsBits(vw1) + fabsBits(vw2);

    // A NaN coordinate would reach the kernel builders as garbage indices: use 0 instead;
    // periodic wrapping cannot reduce an infinity either.
    if (std::isnan(u)) u = 0;
    if (std::isnan(v)) v = 0;
    if (_uMode == Ptex::m_periodic && std::isinf(u)) u = 0;
    if (_vMode == Ptex::m_periodic && std::isinf(v)) v = 0;

    bool black = false;
    switch (_uMode) {
    case Ptex::m_clamp: u = fclamp(u, 0.0f, 1.0f); break;
    case Ptex::m_periodic: u = u - std::floor(u); break;
    case Ptex::m_black: black = black || u <= -1.0f || u >= 2.0f; break;
    }
    switch (_vMode) {
    case Ptex::m_clamp: v = fclamp(v, 0.0f, 1.0f); break;
    case Ptex::m_periodic: v = v - std::floor(v); break;
    case Ptex::m_black: black = black || v <= -1.0f || v >= 2.0f; break;
    }
    if (black) {
        std::fill(result, result + nc, 0.0f);
        return;
    }

    SeparableKernel k;
    if (info.isSubface()) {
        // Built as the lower-left quarter of a main face twice the size, so that blur is
        // measured relative to the parent face; then brought back to the subface's levels.
        const float uwe = uw * width + blur * 2.0f;
        const float vwe = vw * width + blur * 2.0f;
        buildKernel(k, u * 0.5f, v * 0.5f, uwe * 0.5f, vwe * 0.5f, info.res.ulog2 + 1, info.res.vlog2 + 1);
        if (k.ulog2 == 0) k.doubleU();
        if (k.vlog2 == 0) k.doubleV();
        k.ulog2--;
        k.vlog2--;
    } else {
        prefetchFootprint(faceid, u, v, uw * width + blur, vw * width + blur, info.res);
        buildKernel(k, u, v, uw * width + blur, vw * width + blur, info.res.ulog2, info.res.vlog2);
    }
    k.stripZeros();

    float* acc = _scratch.data();
    std::fill(acc, acc + nc, 0.0f);
    _st.acc = acc;
    _st.weight = k.weight();
    _st.firstchan = firstchan;
    _st.nc = nc;
    _st.numFaces = numFaces;

    distribute(k, faceid, 0);

    // All weight lost (black borders beyond a dropped corner): black, not 0/0. A texture whose
    // read failed meanwhile answers its zeros for the whole footprint.
    if (_st.weight == 0 || _source.failed()) {
        std::fill(result, result + nc, 0.0f);
        return;
    }
    const float scale = 1.0f / (_st.weight * Ptex::OneValue(_dt));
    for (int c = 0; c < nc; c++) result[c] = acc[c] * scale;
}

int PtexSeparableFilter::neighbor(const Ptex::FaceInfo& info, int edge) const
{
    const int f = info.adjface(edge);
    return (f >= 0 && f < _st.numFaces) ? f : -1;
}

void PtexSeparableFilter::distribute(SeparableKernel& k, int faceid, int depth)
{
    if (k.empty() || depth > kMaxDepth) return;
    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    const bool right = k.u + k.uw > k.resU();
    const bool left = k.u < 0;
    const bool top = k.v + k.vw > k.resV();
    const bool bottom = k.v < 0;
    const bool ublack = borderIsBlack(_uMode), vblack = borderIsBlack(_vMode);

    if (_noedgeblend) {
        if (right) k.foldRight(ublack);
        if (left) k.foldLeft(ublack);
        if (top) k.foldTop(vblack);
        if (bottom) k.foldBottom(vblack);
        apply(k, faceid);
        return;
    }

    // This order fixes the order of summation.
    if (right) {
        if (neighbor(info, Ptex::e_right) >= 0) {
            SeparableKernel piece = k.cutRight();
            if (top) {
                if (neighbor(info, Ptex::e_top) >= 0) {
                    SeparableKernel corner = piece.cutTop();
                    cornerWalk(corner, faceid, 2, depth);
                } else {
                    piece.foldTop(vblack);
                }
            }
            if (bottom) {
                if (neighbor(info, Ptex::e_bottom) >= 0) {
                    SeparableKernel corner = piece.cutBottom();
                    cornerWalk(corner, faceid, 1, depth);
                } else {
                    piece.foldBottom(vblack);
                }
            }
            crossEdge(piece, faceid, Ptex::e_right, depth);
        } else {
            k.foldRight(ublack);
        }
    }
    if (left) {
        if (neighbor(info, Ptex::e_left) >= 0) {
            SeparableKernel piece = k.cutLeft();
            if (top) {
                if (neighbor(info, Ptex::e_top) >= 0) {
                    SeparableKernel corner = piece.cutTop();
                    cornerWalk(corner, faceid, 3, depth);
                } else {
                    piece.foldTop(vblack);
                }
            }
            if (bottom) {
                if (neighbor(info, Ptex::e_bottom) >= 0) {
                    SeparableKernel corner = piece.cutBottom();
                    cornerWalk(corner, faceid, 0, depth);
                } else {
                    piece.foldBottom(vblack);
                }
            }
            crossEdge(piece, faceid, Ptex::e_left, depth);
        } else {
            k.foldLeft(ublack);
        }
    }
    if (top) {
        if (neighbor(info, Ptex::e_top) >= 0) {
            SeparableKernel piece = k.cutTop();
            crossEdge(piece, faceid, Ptex::e_top, depth);
        } else {
            k.foldTop(vblack);
        }
    }
    if (bottom) {
        if (neighbor(info, Ptex::e_bottom) >= 0) {
            SeparableKernel piece = k.cutBottom();
            crossEdge(piece, faceid, Ptex::e_bottom, depth);
        } else {
            k.foldBottom(vblack);
        }
    }
    apply(k, faceid);
}

void PtexSeparableFilter::crossEdge(SeparableKernel& k, int faceid, int edge, int depth)
{
    if (k.empty()) return;
    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    int nbr = neighbor(info, edge);
    if (nbr < 0) return;
    const int adjEdge = info.adjedge(edge);
    int turns = edge - adjEdge + 2;

    const Ptex::FaceInfo* nbrInfo = &_tx->getFaceInfo(nbr);
    const bool faceIsSub = info.isSubface();
    if (faceIsSub != nbrInfo->isSubface()) {
        if (nbrInfo->isSubface()) {
            if (!k.mainToSubface(edge)) {
                // The piece starts on the other subface along this edge.
                const int e2 = (adjEdge + 3) % 4;
                const int other = neighbor(*nbrInfo, e2);
                if (other < 0) return;
                turns += e2 - nbrInfo->adjedge(e2) + 2;
                nbr = other;
                nbrInfo = &_tx->getFaceInfo(nbr);
            }
        } else {
            const bool primary = nbrInfo->adjface(adjEdge) == faceid;
            k.subfaceToMain(edge - (primary ? 1 : 0));
        }
    }
    k.turn(turns);
    if (nbrInfo->isSubface())
        distribute(k, nbr, depth + 1);
    else
        apply(k, nbr);
}

void PtexSeparableFilter::cornerWalk(SeparableKernel& k, int faceid, int corner, int depth)
{
    if (k.empty()) return;
    int faces[kMaxCornerFaces];
    int edges[kMaxCornerFaces];
    int cur = faceid, curEdge = corner;
    bool prevSub = _tx->getFaceInfo(faceid).isSubface();
    int count = 0;
    for (int i = 0; i < kMaxCornerFaces; i++) {
        const int prev = cur;
        const Ptex::FaceInfo& curInfo = _tx->getFaceInfo(cur);
        const int next = neighbor(curInfo, curEdge);
        const int nextEdge = (curInfo.adjedge(curEdge) + 1) % 4;
        if (next < 0 || (next == faceid && nextEdge == corner)) {
            count = i - 2;
            break;
        }
        faces[i] = next;
        edges[i] = nextEdge;
        cur = next;
        curEdge = nextEdge;
        const Ptex::FaceInfo& nextInfo = _tx->getFaceInfo(cur);
        if (prevSub && !nextInfo.isSubface() && nextInfo.adjface((curEdge + 3) % 4) == prev) {
            // T-junction: the vertex is the midpoint of a main face's edge.
            const int p = (i == 1) ? 1 : 0;
            k.subfaceToMain(corner + 2 * p);
            k.turn(corner - curEdge + 3 - p);
            distribute(k, cur, depth + 1);
            return;
        }
        prevSub = nextInfo.isSubface();
    }

    if (count == 1) {
        applyToCornerFace(k, faceid, corner, faces[1], edges[1], depth);
    } else if (count > 1) {
        // Extraordinary vertex: every face not adjacent to this one gets a symmetric copy.
        k.turn(corner + 2);
        const float w0 = k.weight();
        const float wn = k.symmetrize();
        for (int j = 1; j <= count; j++) {
            SeparableKernel copy = k;
            applyToCornerFace(copy, faceid, 2, faces[j], edges[j], depth);
        }
        _st.weight = _st.weight + ((wn * float(count)) - w0);
    } else {
        // No diagonal face: the corner region is dropped and the rest renormalised.
        _st.weight = _st.weight - k.weight();
    }
}

void PtexSeparableFilter::applyToCornerFace(SeparableKernel& k, int faceid, int corner, int cornerFace, int cornerEdge,
                                            int depth)
{
    const bool faceIsSub = _tx->getFaceInfo(faceid).isSubface();
    const bool cornerIsSub = _tx->getFaceInfo(cornerFace).isSubface();
    if (faceIsSub != cornerIsSub) {
        if (cornerIsSub)
            k.mainToSubface(corner + 3);
        else
            k.subfaceToMain(corner + 3);
    }
    k.turn(corner - cornerEdge + 2);
    if (cornerIsSub)
        distribute(k, cornerFace, depth + 1);
    else
        apply(k, cornerFace);
}

void PtexSeparableFilter::addRotated(const float* piece, int rot)
{
    float* acc = _st.acc;
    switch (rot) {
    case 1:
        acc[0] -= piece[1];
        acc[1] += piece[0];
        break;
    case 2:
        acc[0] -= piece[0];
        acc[1] -= piece[1];
        break;
    default:
        acc[0] += piece[1];
        acc[1] -= piece[0];
        break;
    }
    for (int c = 2; c < _st.nc; c++) acc[c] += piece[c];
}

void PtexSeparableFilter::apply(SeparableKernel& k, int faceid)
{
    if (k.empty()) return;
    const Ptex::FaceInfo& info = _tx->getFaceInfo(faceid);
    // A piece finer than the receiving face is resampled down to the face's own resolution.
    while (k.ulog2 > info.res.ulog2) k.halveU();
    while (k.vlog2 > info.res.vlog2) k.halveV();
    if (k.ulog2 < 0 || k.vlog2 < 0) return;
    // Weights outside the face (inconsistent adjacency, black borders) count as black.
    k.clipToLevel();
    if (k.empty()) return;

    PtexFaceData* data = _source.data(faceid, Ptex::Res(int8_t(k.ulog2), int8_t(k.vlog2)));
    if (!data) return;
    // Tangent vectors from a rotated neighbour are turned back into the sampled face's frame;
    // constant data are turned like all other data.
    const bool rotate = _tanvec && k.rot > 0 && _st.nc >= 2;
    if (rotate) {
        float* piece = _scratch.data() + _nt;
        std::fill(piece, piece + _st.nc, 0.0f);
        applyToData(data, k, piece);
        addRotated(piece, k.rot);
    } else {
        applyToData(data, k, _st.acc);
    }
    _source.done(data);
}

void PtexSeparableFilter::applyToData(PtexFaceData* data, const SeparableKernel& k, float* target)
{
    float* rowScratch = _scratch.data() + 2 * _nt;
    if (data->isConstant()) {
        const void* texel = data->getData();
        if (texel) FilterAccum::applyConstant(_dt, texel, _st.firstchan, _st.nc, k.weight(), target);
        return;
    }
    if (!data->isTiled()) {
        const void* texels = data->getData();
        if (texels)
            FilterAccum::applyRectToData(_dt, texels, k.resU(), _nt, _st.firstchan, k.u, k.v, k.uw, k.vw, k.ku, k.kv,
                                         _st.nc, target, rowScratch);
        return;
    }

    // Tiled: cut the rectangle at tile boundaries, row segments bottom to top, columns left
    // to right within each.
    const Ptex::Res tileRes = data->tileRes();
    if (tileRes.ulog2 < 0 || tileRes.vlog2 < 0 || tileRes.ulog2 > k.ulog2 || tileRes.vlog2 > k.vlog2) return;
    const int tw = 1 << tileRes.ulog2, th = 1 << tileRes.vlog2;
    const int tilesU = k.resU() / tw;
    for (int y = k.v, remV = k.vw; remV > 0;) {
        const int segV = std::min(remV, th - (y % th));
        const float* kv = k.kv + (y - k.v);
        float sumV = 0;
        for (int j = 0; j < segV; j++) sumV += kv[j];
        for (int x = k.u, remU = k.uw; remU > 0;) {
            const int segU = std::min(remU, tw - (x % tw));
            const float* ku = k.ku + (x - k.u);
            PtexFaceData* tile = _source.tile(data, (y / th) * tilesU + x / tw);
            if (tile) {
                const void* texels = tile->getData();
                if (texels) {
                    if (tile->isConstant()) {
                        float sumU = 0;
                        for (int i = 0; i < segU; i++) sumU += ku[i];
                        FilterAccum::applyConstant(_dt, texels, _st.firstchan, _st.nc, sumU * sumV, target);
                    } else {
                        FilterAccum::applyRectToData(_dt, texels, tw, _nt, _st.firstchan, x % tw, y % th, segU, segV,
                                                     ku, kv, _st.nc, target, rowScratch);
                    }
                }
                _source.done(tile);
            }
            x += segU;
            remU -= segU;
        }
        y += segV;
        remV -= segV;
    }
}

PTEX_NAMESPACE_END
