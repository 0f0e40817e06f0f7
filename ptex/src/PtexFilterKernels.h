// Construction of the per-axis weight lists of the quad separable filters: bilinear, box,
// and the width-4 family (gaussian and the cubics with a sharpness parameter).
#pragma once

#include "PtexVersion.h"

PTEX_NAMESPACE_BEGIN

// One axis of a kernel as built: level, first texel index, weights.
struct KernelAxis {
    int log2 = 0;
    int start = 0;
    int size = 0;
    float* weights = nullptr;  // room for SeparableKernel::kMaxSize entries
};

// The cubic with C = (1 - B)/2 and B = 1 - sharpness, coefficients fixed at construction.
class CubicFunction {
public:
    explicit CubicFunction(float sharpness);
    float operator()(float x) const;

private:
    float _c0, _c1, _c2, _c3, _c4, _c5, _c6;
};

// exp(-2 x^2): a bell with standard deviation of half a filter width.
float gaussianFunction(float x);

// The smooth bump of support +-1 that the large-width branches blend with.
float bumpFunction(float x);

// Per-axis builders: centre c, effective width w, face log2 resolution n.
void buildBilinearAxis(KernelAxis& axis, float c, float w, int n);
void buildBoxAxis(KernelAxis& axis, float c, float w, int n);

// Width-4 kernels sample 'kernel' (gaussian or cubic) over four filter widths.
template <class KernelFunction>
void buildWidth4Axis(KernelAxis& axis, float c, float w, int n, bool lerp, const KernelFunction& kernel);

// Explicitly instantiated for the two kernel functions.
struct GaussianFunction {
    float operator()(float x) const { return gaussianFunction(x); }
};
extern template void buildWidth4Axis<GaussianFunction>(KernelAxis&, float, float, int, bool, const GaussianFunction&);
extern template void buildWidth4Axis<CubicFunction>(KernelAxis&, float, float, int, bool, const CubicFunction&);

PTEX_NAMESPACE_END
