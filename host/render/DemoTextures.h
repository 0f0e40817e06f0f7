// DemoTextures: the texel sources the built-in demo bakes its Ptex files from, all functions of
// the object-space position, so that they run on across face edges and any seam would show:
// wavy rings with fine detail for the filter panels, a fine checker for the sphere, marbled
// stripes for the torus and a perforated plate whose holes have alpha 0 for the cut-out cube.
#pragma once

#include "TexelSource.h"

#include <memory>

namespace tarsk::render {

// Concentric rings of shifting colour around a point behind the panel, waved by noise.
std::unique_ptr<bake::TexelSource> ringsTexture();

// A 3D checker of cells `cell` wide in two colours, its borders blended over `edge` (about a
// texel) so that the baked texels hold no staircase.
std::unique_ptr<bake::TexelSource> checkerTexture(double cell, double edge);

// Diagonal stripes bent by noise, in soft blue and cream.
std::unique_ptr<bake::TexelSource> marbleTexture();

// For the unit cube: each side a plate with `holes` x `holes` round holes (alpha 0) of radius
// `radius` (a fraction of the hole spacing), the plate opaque with a brushed warm colour; alpha
// ramps over `edge` (side units, about a texel) at the rims.
std::unique_ptr<bake::TexelSource> perforatedTexture(int holes, double radius, double edge);

}  // namespace tarsk::render
