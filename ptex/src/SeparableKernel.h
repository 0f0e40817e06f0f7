// The separable kernel of the quad filters: a weight list along u times one along v at one
// resolution level of a face, plus the operations that cut it at face edges, fold it back,
// re-express it in a neighbour's frame and change its level.
#pragma once

#include "PtexVersion.h"

PTEX_NAMESPACE_BEGIN

struct SeparableKernel {
    // Built kernels hold at most 10 weights per axis; doubling a level-0 kernel on its way
    // into a subface can at most quadruple a 2-weight list, so 24 leaves ample room.
    static constexpr int kMaxSize = 24;

    int ulog2 = 0, vlog2 = 0;  // level: 2^ulog2 x 2^vlog2 texels
    int u = 0, v = 0;          // texel index of the first weight (may lie outside the level)
    int uw = 0, vw = 0;        // number of weights
    float ku[kMaxSize] = {};
    float kv[kMaxSize] = {};
    int rot = 0;  // quarter turns from the sampled face's frame into this piece's face frame

    int resU() const { return 1 << ulog2; }
    int resV() const { return 1 << vlog2; }
    bool empty() const { return uw <= 0 || vw <= 0; }
    void makeEmpty()
    {
        u = v = 0;
        uw = vw = 0;
    }

    float sumU() const;
    float sumV() const;
    float weight() const { return sumU() * sumV(); }

    // Removes leading and trailing weights that are exactly zero.
    void stripZeros();

    // Folding (no neighbour): the overhang moves onto the texels just inside the edge, or is
    // dropped when 'black'. A side that loses every weight leaves the kernel empty.
    void foldRight(bool black);
    void foldLeft(bool black);
    void foldTop(bool black);
    void foldBottom(bool black);

    // Cutting: the part beyond the edge is returned in the neighbour's index space (same
    // level) and removed from this kernel. The piece keeps this kernel's rotation.
    SeparableKernel cutRight();
    SeparableKernel cutLeft();
    SeparableKernel cutTop();
    SeparableKernel cutBottom();

    void flipU();
    void flipV();
    void swapUV();
    // Re-express in a frame turned by r quarter turns (r taken modulo 4).
    void turn(int r);

    void halveU();
    void halveV();
    void doubleU();
    void doubleV();

    // Moves a piece from a main face into the subface frame across main edge e; returns
    // whether the primary subface (the one the main face's adjacency names) is the target.
    bool mainToSubface(int e);
    // Moves a piece from a subface into the frame of its main face (edge index e).
    void subfaceToMain(int e);

    // Replaces the u and v lists of a corner piece at (0,0) by their common symmetric sum;
    // returns the weight the caller must count for it.
    float symmetrize();

    // Drops weights outside [0, 2^ulog2) x [0, 2^vlog2).
    void clipToLevel();
};

PTEX_NAMESPACE_END
