// ShadingNormals: the normals that tarsk-render shades with, one per corner of every render
// triangle, interpolated across the triangle by the hit's weights. They come from the OBJ's "vn"
// where a face corner names one, else from the area-weighted normals of the original faces around
// the corner's vertex that meet the corner's face at less than a crease angle, so that curved
// surfaces shade smoothly and a cube keeps its edges. The texture lookup does not use them.
#pragma once

#include "MeshLists.h"
#include "Vec3.h"

#include <vector>

namespace tarsk::render {

using host::Vec3;

// Faces whose normals differ by less than this are shaded as one smooth surface.
constexpr double kCreaseAngleDegrees = 60.0;

// Unit normals in the space of `lists.vertices`, three per render triangle in "faces" order.
// `givenCornerNormals` holds one normal per "origFaces" entry (zero: not given) or is empty. A
// corner whose normal cannot be formed (degenerate faces only) gets a zero normal, which the
// renderer answers with the triangle's geometric normal. Expects lists that findMeshListFault accepts.
std::vector<Vec3> shadingNormals(const host::MeshLists& lists, const std::vector<Vec3>& givenCornerNormals,
                                 double creaseAngleDegrees = kCreaseAngleDegrees);

}  // namespace tarsk::render
