// Kernel operations of the quad separable filters. The order of every sum is fixed, because
// results must agree with the reference arithmetic to the last bit.
#include "SeparableKernel.h"

#include <algorithm>
#include <utility>

PTEX_NAMESPACE_BEGIN

namespace {

float sumList(const float* k, int n)
{
    float s = 0;
    for (int i = 0; i < n; i++) s += k[i];
    return s;
}

// One axis of a kernel, so that u and v share the code of each operation.
struct Axis {
    int& log2;
    int& start;
    int& size;
    float* k;
    int res() const { return 1 << log2; }
};

Axis axisU(SeparableKernel& k) { return Axis{k.ulog2, k.u, k.uw, k.ku}; }
Axis axisV(SeparableKernel& k) { return Axis{k.vlog2, k.v, k.vw, k.kv}; }

// Overhang past the high end folds onto the last texel inside. Returns false if nothing is left.
bool foldHigh(Axis a, bool black)
{
    int w = a.start + a.size - a.res();
    if (w <= 0) return true;
    if (w >= a.size) return false;
    if (!black) {
        float s = 0;
        for (int i = a.size - w; i < a.size; i++) s += a.k[i];
        a.k[a.size - w - 1] += s;
    }
    a.size -= w;
    return true;
}

bool foldLow(Axis a, bool black)
{
    int w = -a.start;
    if (w <= 0) return true;
    if (w >= a.size) return false;
    if (!black) {
        float s = sumList(a.k, w);
        a.k[w] += s;
    }
    std::copy(a.k + w, a.k + a.size, a.k);
    a.size -= w;
    a.start = 0;
    return true;
}

// Cuts the part past the high end of 'a' (kernel 'src') into 'piece'.
void cutHigh(SeparableKernel& src, Axis a, SeparableKernel& piece, Axis pa)
{
    int w = a.start + a.size - a.res();
    piece = src;  // same level, other axis and rotation
    if (w < a.size) {
        pa.start = 0;
        pa.size = w;
        std::copy(a.k + (a.size - w), a.k + a.size, pa.k);
        a.size -= w;
    } else {
        pa.start = a.start - a.res();
        src.makeEmpty();
    }
}

void cutLow(SeparableKernel& src, Axis a, SeparableKernel& piece, Axis pa)
{
    int w = -a.start;
    piece = src;
    if (w < a.size) {
        pa.start = a.res() - w;
        pa.size = w;
        std::copy(a.k + w, a.k + a.size, a.k);
        a.size -= w;
        a.start = 0;
    } else {
        pa.start = a.start + a.res();
        src.makeEmpty();
    }
}

void flip(Axis a)
{
    a.start = a.res() - a.start - a.size;
    std::reverse(a.k, a.k + a.size);
}

void halve(Axis a)
{
    int n = 0, i = 0;
    if (a.start & 1) {
        // The first weight's pair partner lies outside the kernel: it stays alone.
        a.k[n++] = a.k[i++];
    }
    for (; i + 1 < a.size; i += 2) a.k[n++] = a.k[i] + a.k[i + 1];
    if (i < a.size) a.k[n++] = a.k[i];
    a.start >>= 1;  // arithmetic shift: floor also for negative starts
    a.size = n;
    a.log2 -= 1;
}

void doubleAxis(Axis a)
{
    int n = std::min(a.size, SeparableKernel::kMaxSize / 2);
    for (int i = n - 1; i >= 0; i--) {
        float h = a.k[i] / 2;
        a.k[2 * i] = h;
        a.k[2 * i + 1] = h;
    }
    a.start *= 2;
    a.size = 2 * n;
    a.log2 += 1;
}

void clip(Axis a)
{
    if (a.start < 0) {
        int w = std::min(-a.start, a.size);
        std::copy(a.k + w, a.k + a.size, a.k);
        a.size -= w;
        a.start = 0;
    }
    int over = a.start + a.size - a.res();
    if (over > 0) a.size = std::max(0, a.size - over);
}

}  // namespace

float SeparableKernel::sumU() const { return sumList(ku, uw); }
float SeparableKernel::sumV() const { return sumList(kv, vw); }

void SeparableKernel::stripZeros()
{
    while (uw > 0 && ku[0] == 0) {
        std::copy(ku + 1, ku + uw, ku);
        uw--;
        u++;
    }
    while (uw > 0 && ku[uw - 1] == 0) uw--;
    while (vw > 0 && kv[0] == 0) {
        std::copy(kv + 1, kv + vw, kv);
        vw--;
        v++;
    }
    while (vw > 0 && kv[vw - 1] == 0) vw--;
}

void SeparableKernel::foldRight(bool black)
{
    if (!empty() && !foldHigh(axisU(*this), black)) makeEmpty();
}
void SeparableKernel::foldLeft(bool black)
{
    if (!empty() && !foldLow(axisU(*this), black)) makeEmpty();
}
void SeparableKernel::foldTop(bool black)
{
    if (!empty() && !foldHigh(axisV(*this), black)) makeEmpty();
}
void SeparableKernel::foldBottom(bool black)
{
    if (!empty() && !foldLow(axisV(*this), black)) makeEmpty();
}

SeparableKernel SeparableKernel::cutRight()
{
    SeparableKernel p;
    if (!empty()) cutHigh(*this, axisU(*this), p, axisU(p));
    return p;
}
SeparableKernel SeparableKernel::cutLeft()
{
    SeparableKernel p;
    if (!empty()) cutLow(*this, axisU(*this), p, axisU(p));
    return p;
}
SeparableKernel SeparableKernel::cutTop()
{
    SeparableKernel p;
    if (!empty()) cutHigh(*this, axisV(*this), p, axisV(p));
    return p;
}
SeparableKernel SeparableKernel::cutBottom()
{
    SeparableKernel p;
    if (!empty()) cutLow(*this, axisV(*this), p, axisV(p));
    return p;
}

void SeparableKernel::flipU() { flip(axisU(*this)); }
void SeparableKernel::flipV() { flip(axisV(*this)); }

void SeparableKernel::swapUV()
{
    std::swap(ulog2, vlog2);
    std::swap(u, v);
    std::swap(uw, vw);
    std::swap(ku, kv);
}

void SeparableKernel::turn(int r)
{
    r = ((r % 4) + 4) % 4;
    switch (r) {
    case 1:
        flipU();
        swapUV();
        break;
    case 2:
        flipU();
        flipV();
        break;
    case 3:
        flipV();
        swapUV();
        break;
    default: break;
    }
    rot = (rot + r) % 4;
}

void SeparableKernel::halveU() { halve(axisU(*this)); }
void SeparableKernel::halveV() { halve(axisV(*this)); }
void SeparableKernel::doubleU() { doubleAxis(axisU(*this)); }
void SeparableKernel::doubleV() { doubleAxis(axisV(*this)); }

bool SeparableKernel::mainToSubface(int e)
{
    if (ulog2 == 0) doubleU();
    if (vlog2 == 0) doubleV();
    ulog2--;
    vlog2--;
    const int R = resU(), S = resV();
    bool primary = false;
    switch (e & 3) {
    case 0:
        primary = u < R;
        v -= S;
        if (!primary) u -= R;
        break;
    case 1:
        primary = v < S;
        if (!primary) v -= S;
        break;
    case 2:
        primary = u >= R;
        if (primary) u -= R;
        break;
    default:
        primary = v >= S;
        u -= R;
        if (primary) v -= S;
        break;
    }
    return primary;
}

void SeparableKernel::subfaceToMain(int e)
{
    const int R = resU(), S = resV();
    switch (e & 3) {
    case 0: v += S; break;
    case 1: break;
    case 2: u += R; break;
    default:
        u += R;
        v += S;
        break;
    }
    ulog2++;
    vlog2++;
}

float SeparableKernel::symmetrize()
{
    const float w0 = weight();
    while (ulog2 > vlog2) halveU();
    while (vlog2 > ulog2) halveV();
    const int m = std::min(uw, vw);
    for (int i = 0; i < m; i++) {
        float s = ku[i] + kv[i];
        ku[i] = s;
        kv[i] = s;
    }
    uw = vw = m;
    const float s = sumList(ku, m);
    const float wn = s * s;
    const float scale = (wn == 0) ? 1.0f : w0 / wn;
    if (scale >= 1) return wn;
    if (scale < -1) {
        for (int i = 0; i < m; i++) ku[i] = -ku[i];
        return -wn;
    }
    for (int i = 0; i < m; i++) ku[i] *= scale;
    return w0;
}

void SeparableKernel::clipToLevel()
{
    if (empty()) return;
    clip(axisU(*this));
    clip(axisV(*this));
    if (uw <= 0 || vw <= 0) makeEmpty();
}

PTEX_NAMESPACE_END
