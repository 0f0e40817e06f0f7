// Point filters: the single full-resolution texel under (u, v), for quad faces and for the
// upright/inverted texel layout of triangle faces. Footprint, border modes and blur are ignored.
#pragma once

#include "PtexFaceDataSource.h"
#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

// Aligned to cache lines like the other filters, so that no neighbouring allocation another
// thread writes shares a line with what every evaluation reads.
class alignas(64) PtexPointFilter : public PtexFilter {
public:
    explicit PtexPointFilter(PtexTexture* texture) : _tx(texture), _source(texture) {}
    void release() override { delete this; }
    void eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1, float vw1,
              float uw2, float vw2, float width, float blur) override;

private:
    ~PtexPointFilter() override = default;
    PtexTexture* _tx;
    FaceDataSource _source;
};

class alignas(64) PtexPointFilterTri : public PtexFilter {
public:
    explicit PtexPointFilterTri(PtexTexture* texture) : _tx(texture), _source(texture) {}
    void release() override { delete this; }
    void eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1, float vw1,
              float uw2, float vw2, float width, float blur) override;

private:
    ~PtexPointFilterTri() override = default;
    PtexTexture* _tx;
    FaceDataSource _source;
};

PTEX_NAMESPACE_END
