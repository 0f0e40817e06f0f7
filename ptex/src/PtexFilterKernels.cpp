// Kernel weight construction. Every expression keeps the grouping of the reference
// arithmetic (single precision, left to right, no contraction).
#include "PtexFilterKernels.h"

#include <cmath>

#include "PtexFilterMath.h"

PTEX_NAMESPACE_BEGIN

using namespace FilterMath;

CubicFunction::CubicFunction(float sharpness)
{
    const float B = 1.0f - sharpness;
    const float third = 1.0f / 3.0f, twoThirds = 2.0f / 3.0f;
    _c0 = 1.5f - B;
    _c1 = 1.5f * B - 2.5f;
    _c2 = 1.0f - third * B;
    _c3 = third * B - 0.5f;
    _c4 = 2.5f - 1.5f * B;
    _c5 = 2.0f * B - 4.0f;
    _c6 = 2.0f - twoThirds * B;
}

float CubicFunction::operator()(float x) const
{
    const float t = std::fabs(x);
    if (t < 1.0f) return ((_c0 * t + _c1) * t) * t + _c2;
    if (t < 2.0f) return ((_c3 * t + _c4) * t + _c5) * t + _c6;
    return 0.0f;
}

float gaussianFunction(float x) { return std::exp((-2.0f * x) * x); }

float bumpFunction(float x)
{
    const float t = std::fabs(x);
    return t < 1.0f ? ((2.0f * t - 3.0f) * t) * t + 1.0f : 0.0f;
}

void buildBilinearAxis(KernelAxis& axis, float c, float w, int n)
{
    w = fmin(w, 1.0f);
    w = fmax(w, p2(n));
    const int a = uint8_t(resFromWidth(w));
    const float p = c * float(1 << a) - 0.5f;
    const float f = std::floor(p);
    const float frac = p - f;
    axis.log2 = a;
    axis.start = int(f);
    axis.size = 2;
    axis.weights[0] = 1.0f - frac;
    axis.weights[1] = frac;
}

void buildBoxAxis(KernelAxis& axis, float c, float w, int n)
{
    w = fmin(w, 1.0f);
    w = fmax(w, p2(n));
    const int a = uint8_t(resFromWidth(w));
    const float R = float(1 << a);
    const float cr = c * R, wr = w * R;
    const float lo = cr - 0.5f * wr, hi = cr + 0.5f * wr;
    const float L = std::floor(lo), H = std::ceil(hi);
    const int size = int(H) - int(L);
    const float f1 = 1.0f - (lo - L), f2 = 1.0f - (H - hi);
    axis.log2 = a;
    axis.start = int(L);
    axis.size = size;
    if (size == 1) {
        axis.weights[0] = f1 + f2 - 1.0f;
        return;
    }
    axis.weights[0] = f1;
    for (int i = 1; i < size - 1; i++) axis.weights[i] = 1.0f;
    axis.weights[size - 1] = f2;
}

template <class KernelFunction>
void buildWidth4Axis(KernelAxis& axis, float c, float w, int n, bool lerp, const KernelFunction& kernel)
{
    float* k = axis.weights;
    w = fmax(w, p2(n));
    int a = resFromWidth(w);
    const float lo = exp2i(-a);
    const float L2 = lerp ? (w - lo) / lo : 0.0f;
    const float L1 = 1.0f - L2;

    if (w >= 0.25f) {
        if (w < 0.5f) {
            // Level 2: the kernel function at a fixed spacing of one level-2 texel.
            const float p = c * 4.0f - 0.5f;
            const int i1 = evenDown(int(std::ceil(p - 2.0f)));
            const int i2 = evenUp(int(std::ceil(p + 2.0f)));
            const float x0 = float(i1) - p;
            const float s = 1.0f / (w + 0.75f);
            axis.log2 = 2;
            axis.start = i1;
            axis.size = i2 - i1;
            for (int i = 0; i < axis.size; i += 2) {
                const float xa = x0 + float(i), xb = xa + 1.0f, xc = (xa + xb) * 0.25f;
                k[i] = kernel(xa) * L1 + bumpFunction(xc * s) * L2;
                k[i + 1] = kernel(xb) * L1 + bumpFunction(xc * s) * L2;
            }
        } else if (w < 1.0f) {
            // Level 1: every width-4 filter uses the bump here.
            const float p = c * 2.0f - 0.5f;
            const int i1 = int(std::floor(c - 0.5f)) * 2;
            const float x0 = float(i1) - p;
            const float s = 1.0f / (w * 1.5f + 0.5f);
            axis.log2 = 1;
            axis.start = i1;
            axis.size = 4;
            for (int i = 0; i < 4; i += 2) {
                const float xa = x0 + float(i), xb = xa + 1.0f, xc = (xa + xb) * 0.5f;
                k[i] = bumpFunction(xa * s) * L1 + bumpFunction(xc * s) * L2;
                k[i + 1] = bumpFunction(xb * s) * L1 + bumpFunction(xc * s) * L2;
            }
        } else {
            // Level 0: blend the face's constant value with its neighbour's.
            const float p = c - 0.5f;
            const float f = std::floor(p);
            axis.log2 = 0;
            axis.start = int(f);
            axis.size = 2;
            k[0] = bumpFunction(p - f);
            k[1] = 1.0f - k[0];
        }
        return;
    }

    const float R = float(1 << a);
    const float p = c * R - 0.5f;  // texel centres at integers
    const float wp = w * R;        // filter width in texels, in [1, 2)
    const float d = 2.0f * wp;
    int i1 = int(std::ceil(p - d));
    int i2 = int(std::ceil(p + d));
    axis.log2 = a;
    if (L2 != 0.0f) {
        // Whole texel pairs of the next coarser level, each pair sharing its centre's weight.
        i1 = evenDown(i1);
        i2 = evenUp(i2);
        const float step = 1.0f / wp;
        const float x0 = (float(i1) - p) * step;
        axis.start = i1;
        axis.size = i2 - i1;
        for (int i = 0; i < axis.size; i += 2) {
            const float xa = x0 + float(i) * step, xb = xa + step, xc = (xa + xb) * 0.5f;
            const float coarse = kernel(xc) * L2;
            k[i] = kernel(xa) * L1 + coarse;
            k[i + 1] = kernel(xb) * L1 + coarse;
        }
    } else {
        const float x0 = (float(i1) - p) / wp;
        const float step = 1.0f / wp;
        axis.start = i1;
        axis.size = i2 - i1;
        for (int i = 0; i < axis.size; i++) k[i] = kernel(x0 + float(i) * step);
    }
}

template void buildWidth4Axis<GaussianFunction>(KernelAxis&, float, float, int, bool, const GaussianFunction&);
template void buildWidth4Axis<CubicFunction>(KernelAxis&, float, float, int, bool, const CubicFunction&);

PTEX_NAMESPACE_END
