// The triangle-mesh filter: an elliptical Gaussian footprint on the equilateral triangle,
// applied to the upright and inverted texels of each face it reaches, crossing edges into
// neighbours (whose frames are rotated or reflected) and renormalised by the weight it used.
#pragma once

#include <vector>

#include "FilterScratch.h"
#include "PtexFaceDataSource.h"
#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

// The kernel in one face's frame: level, centre, bounds on u, v and w = 1 - u - v, and the
// quadratic form coefficients of the elliptical distance.
struct TriangleKernel {
    int level = 0;
    float u = 0, v = 0;
    float u1 = 0, v1 = 0, w1 = 0;
    float u2 = 0, v2 = 0, w2 = 0;
    float A = 0, B = 0, C = 0;
};

// Aligned to a cache line: its per-evaluation state is written on every call, and the filters
// of different threads must not share a line.
class alignas(64) PtexTriangleFilter : public PtexFilter {
public:
    explicit PtexTriangleFilter(PtexTexture* texture);
    void release() override { delete this; }
    void eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1, float vw1,
              float uw2, float vw2, float width, float blur) override;

    // Texel walk of one orientation; defined with the filter.
    struct TexelIterator;

private:
    ~PtexTriangleFilter() override = default;
    void buildKernel(TriangleKernel& k, float u, float v, float uw1, float vw1, float uw2, float vw2, float width,
                     float blur, int faceLog2) const;
    void evalKernel(const TriangleKernel& k, int faceid);
    int neighbor(const Ptex::FaceInfo& info, int edge) const;
    void distribute(TriangleKernel& k, int faceid, int depth);
    void crossEdge(TriangleKernel& k, int faceid, int edge, int depth);
    void apply(TriangleKernel& k, int faceid);
    void runIterator(const TexelIterator& it, PtexFaceData* data, int levelRes);

    PtexTexture* _tx;
    FaceDataSource _source;
    FilterScratch _scratch;
    // Per-evaluation state: a filter object serves one thread at a time.
    float* _acc = nullptr;
    float _weight = 0;
    int _firstchan = 0;
    int _nc = 0;
    int _nt = 0;
    int _numFaces = 0;
    Ptex::DataType _dt = Ptex::dt_uint8;
};

PTEX_NAMESPACE_END
