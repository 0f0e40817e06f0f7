// The quad-mesh separable filters (bilinear, box, gaussian, the cubic family): a kernel is
// built on one level of the sampled face, and the parts that hang over edges and corners are
// carried into the neighbouring faces' frames (through subfaces and extraordinary vertices).
#pragma once

#include <memory>
#include <vector>

#include "FilterScratch.h"
#include "PtexFaceDataSource.h"
#include "PtexFilterKernels.h"
#include "Ptexture.h"
#include "SeparableKernel.h"

PTEX_NAMESPACE_BEGIN

// Aligned to a cache line: its per-evaluation state is written on every call, and the filters
// of different threads must not share a line.
class alignas(64) PtexSeparableFilter : public PtexFilter {
public:
    enum class Shape { bilinear, box, gaussian, cubic };

    PtexSeparableFilter(PtexTexture* texture, const PtexFilter::Options& options, Shape shape, float sharpness);

    void release() override;
    void eval(float* result, int firstchan, int nchannels, int faceid, float u, float v, float uw1, float vw1,
              float uw2, float vw2, float width, float blur) override;

private:
    // Per-evaluation state lives in members: a filter object serves one thread at a time.
    struct EvalState {
        float* acc = nullptr;
        float weight = 0;
        int firstchan = 0;
        int nc = 0;
        int numFaces = 0;
    };

    void buildKernel(SeparableKernel& k, float u, float v, float uw, float vw, int ulog2, int vlog2);
    void buildAxis(KernelAxis& axis, float c, float w, int n);
    bool footprintAxis(float c, float w, int n, int& log2, int& first, int& end) const;
    void prefetchFootprint(int faceid, float u, float v, float uw, float vw, const Ptex::Res& faceRes);

    int neighbor(const Ptex::FaceInfo& info, int edge) const;
    void distribute(SeparableKernel& k, int faceid, int depth);
    void crossEdge(SeparableKernel& k, int faceid, int edge, int depth);
    void cornerWalk(SeparableKernel& k, int faceid, int corner, int depth);
    void applyToCornerFace(SeparableKernel& k, int faceid, int corner, int cornerFace, int cornerEdge, int depth);
    void apply(SeparableKernel& k, int faceid);
    void applyToData(PtexFaceData* data, const SeparableKernel& k, float* target);
    void addRotated(const float* piece, int rot);

    ~PtexSeparableFilter() override = default;

    PtexTexture* _tx;
    FaceDataSource _source;
    Shape _shape;
    bool _lerp;
    bool _noedgeblend;
    CubicFunction _cubic;
    int _nt;
    Ptex::DataType _dt;
    Ptex::BorderMode _uMode, _vMode;
    bool _tanvec;
    // Scratch for channel counts beyond the stack buffers: accumulator, rotated piece, row sums.
    FilterScratch _scratch;
    EvalState _st;
};

PTEX_NAMESPACE_END
