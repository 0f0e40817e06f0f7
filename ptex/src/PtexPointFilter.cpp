// Point filters. Texel indices are clamped in floating point before conversion, so that
// huge, infinite or NaN coordinates pick a border texel (NaN: texel 0) instead of wrapping.
#include "PtexPointFilter.h"

#include <algorithm>
#include <cmath>

#include "PtexFilterMath.h"

PTEX_NAMESPACE_BEGIN

using namespace FilterMath;

namespace {

// Shared argument checks; returns false when nothing more is to be read. A channel range that
// starts outside the texture reads nothing and gives zeros, as a range that starts at the end.
bool pointPreamble(const TextureShape& shape, float* result, int firstchan, int nchannels, int faceid)
{
    if (!result || nchannels <= 0) return false;
    if (faceid < 0 || faceid >= shape.numFaces) return false;
    if (firstchan < 0 || firstchan >= shape.numChannels) {
        std::fill(result, result + nchannels, 0.0f);
        return false;
    }
    return true;
}

int texelIndex(float t, int res) { return int(fclamp(t, 0.0f, float(res - 1))); }

}  // namespace

void PtexPointFilter::eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float, float,
                           float, float, float, float)
{
    if (!pointPreamble(_shape, result, firstchan, nchannels, faceid)) return;
    const Ptex::Res res = _source.faceInfo(faceid).res;
    const int resU = res.u(), resV = res.v();
    const int ui = texelIndex(u * float(resU), resU);
    const int vi = texelIndex(v * float(resV), resV);
    FaceDataSource::Section section(_source);
    _source.getPixel(faceid, ui, vi, result, firstchan, nchannels, res);
}

void PtexPointFilterTri::eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float, float,
                              float, float, float, float)
{
    if (!pointPreamble(_shape, result, firstchan, nchannels, faceid)) return;
    const Ptex::Res res = _source.faceInfo(faceid).res;
    const int n = res.u();
    float ut = u * float(n), vt = v * float(n);
    if (std::isnan(ut)) ut = 0;
    if (std::isnan(vt)) vt = 0;
    const int ui = texelIndex(ut, n);
    const int vi = texelIndex(vt, n);
    const float uf = ut - float(ui), vf = vt - float(vi);
    // Upright small triangles are stored at (ui, vi), inverted ones reflected to the far half.
    FaceDataSource::Section section(_source);
    if (uf + vf <= 1.0f)
        _source.getPixel(faceid, ui, vi, result, firstchan, nchannels, res);
    else
        _source.getPixel(faceid, n - 1 - vi, n - 1 - ui, result, firstchan, nchannels, res);
}

PTEX_NAMESPACE_END
