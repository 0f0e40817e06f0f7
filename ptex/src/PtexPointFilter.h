// Point filters: the single full-resolution texel under (u, v), for quad faces and for the
// upright/inverted texel layout of triangle faces. Footprint, border modes and blur are ignored.
#pragma once

#include "PtexFaceDataSource.h"
#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

// What the argument checks of every evaluation need, read once: a texture's face and channel
// counts never change.
struct TextureShape {
    explicit TextureShape(PtexTexture* texture)
        : numFaces(texture ? texture->numFaces() : 0), numChannels(texture ? texture->numChannels() : 0)
    {}
    int numFaces;
    int numChannels;
};

// Aligned to cache lines like the other filters, so that no neighbouring allocation another
// thread writes shares a line with what every evaluation reads.
class alignas(64) PtexPointFilter : public PtexFilter {
public:
    explicit PtexPointFilter(PtexTexture* texture) : _shape(texture), _source(texture) {}
    void release() override { delete this; }
    void eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1, float vw1,
              float uw2, float vw2, float width, float blur) override;

private:
    ~PtexPointFilter() override = default;
    TextureShape _shape;
    FaceDataSource _source;
};

class alignas(64) PtexPointFilterTri : public PtexFilter {
public:
    explicit PtexPointFilterTri(PtexTexture* texture) : _shape(texture), _source(texture) {}
    void release() override { delete this; }
    void eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1, float vw1,
              float uw2, float vw2, float width, float blur) override;

private:
    ~PtexPointFilterTri() override = default;
    TextureShape _shape;
    FaceDataSource _source;
};

PTEX_NAMESPACE_END
