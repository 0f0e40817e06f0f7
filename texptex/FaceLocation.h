// FaceLocation: finds, for a hit on a render triangle, the Ptex face (or sub-face of an n-gon) it
// lies in and the triangle frame in which its face-local (u, v) are solved, and turns coordinates
// in that frame into (u, v) and filter widths of the Ptex face.
#pragma once

#include "ShadingGeometry.h"

#include <cstdint>

class OrigPolyMesh;
class OrigTriMesh;

struct FaceFrame {
    int32_t faceId = 0;      // the Ptex face id
    Vec3f origin{};          // O
    Vec3f edge1{}, edge2{};  // E1, E2
    int corner = 0;          // corner c of the face's (u, v) square at which the frame starts
};

// The two forms below read the mesh tables directly rather than through OrigMesh's virtual
// queries: they run once per shading point, and the caller knows the concrete mesh type.

// Locates render triangle t (0 <= t < mesh.numTriangles, checked by the caller) of a
// triangle-type mesh: Ptex face t, framed at its corner 0.
void locateFace(const OrigTriMesh& mesh, int32_t t, FaceFrame& frame) noexcept;

// Locates render triangle t (0 <= t < mesh.numTriangles, checked by the caller) of a quad-type
// mesh at mesh-space position q. `faces` holds the render triangles' vertex indices, three per
// triangle, and is read only for 4-corner faces; the caller has checked that t's three entries
// lie inside it. False for a face with no corners to frame.
bool locateFace(const OrigPolyMesh& mesh, const int32_t* faces, int32_t t, Vec3f q, FaceFrame& frame) noexcept;

// Frame coordinates to face-local ones: the affine map from the frame at corner c to the unit
// square whose corners 0 ... 3 are (0, 0), (1, 0), (1, 1), (0, 1).
__attribute__((always_inline)) inline void cornerToFaceUv(int c, float s1, float s2, float& u, float& v) noexcept
{
    switch (c & 3) {
    case 0: u = s1, v = s2; break;
    case 1: u = 1.0f - s2, v = s1; break;
    case 2: u = 1.0f - s1, v = 1.0f - s2; break;
    default: u = s2, v = 1.0f - s1; break;
    }
}

// The same map for a width vector (its linear part only). Both maps run per shading point and
// are always inlined.
__attribute__((always_inline)) inline void cornerToFaceWidth(int c, float ds1, float ds2, float& uw, float& vw) noexcept
{
    switch (c & 3) {
    case 0: uw = ds1, vw = ds2; break;
    case 1: uw = -ds2, vw = ds1; break;
    case 2: uw = -ds1, vw = -ds2; break;
    default: uw = ds2, vw = -ds1; break;
    }
}
