// FaceLocation: finds, for a hit on a render triangle, the Ptex face (or sub-face of an n-gon) it
// lies in and the triangle frame in which its face-local (u, v) are solved, and turns that frame
// into a FaceMap: the affine map from mesh space to the face's (u, v) and its linear part for
// filter widths.
#pragma once

#include "ShadingGeometry.h"

#include <cstdint>

class OrigPolyMesh;
class OrigTriMesh;

// A frame at corner c of a Ptex face's (u, v) square: origin O and edges E1, E2.
struct FaceFrame {
    int32_t faceId = 0;      // the Ptex face id
    Vec3f origin{};          // O
    Vec3f edge1{}, edge2{};  // E1, E2
    int corner = 0;          // corner c of the face's (u, v) square at which the frame starts
};

// Mesh space to face-local coordinates on one frame: for a position q,
// (u, v) = (u0 + dot(uRow, q - origin), v0 + dot(vRow, q - origin)), and a width vector w gives
// (dot(uRow, w), dot(vRow, w)). The rows are PlanarSolver's linear map with the frame's corner
// remap folded in, so every vector is projected onto the frame's plane before it is solved.
struct FaceMap {
    Vec3f origin;
    Vec3f uRow, vRow;
    float u0, v0;
    // The Ptex face id; negative values are the markers below.
    int32_t faceId;

    // No frame: a degenerate face or sub-face, or a render triangle the lists give no face for.
    static constexpr int32_t kNoFace = -1;
    // A render triangle of an n-gon: the sub-face, and so the frame, depends on the hit.
    static constexpr int32_t kSubFaceSearch = -2;
};

// The frame as a FaceMap with its faceId; false (map untouched) for a frame degenerate in every
// axis pair.
bool makeFaceMap(const FaceFrame& frame, FaceMap& map) noexcept;

// Face-local (u, v) of mesh position q; widths of vector w. Always inlined: they run up to three
// times per shading point.
__attribute__((always_inline)) inline void faceUv(const FaceMap& map, Vec3f q, float& u, float& v) noexcept
{
    const Vec3f d = q - map.origin;
    u = map.u0 + dot(map.uRow, d);
    v = map.v0 + dot(map.vRow, d);
}
__attribute__((always_inline)) inline void faceWidth(const FaceMap& map, Vec3f w, float& uw, float& vw) noexcept
{
    uw = dot(map.uRow, w);
    vw = dot(map.vRow, w);
}

// The FaceMap of render triangle t (0 <= t < numTriangles of a valid mesh, checked by the
// caller) where it does not depend on the hit: a triangle of a triangle-type file, or half of a
// 4-corner face of a quad-type file. A render triangle of any other face of a quad-type mesh gets
// faceId kSubFaceSearch; one whose frame is degenerate, whose face has fewer than three corners,
// or whose three "faces" entries lie past the list's `numFaceIndices` elements gets kNoFace.
// Exactly one of the meshes is given.
FaceMap triangleFaceMap(const OrigPolyMesh* polyMesh, const OrigTriMesh* triMesh, const int32_t* faces,
                        int32_t numFaceIndices, int32_t t) noexcept;

// What the sub-face search of an n-gon needs of its sub-face k: the quad A0 A1 A2 A3 from the
// face's corner k (A0) over the midpoint of the edge to the next corner (A1), the face's centre
// (A2) and the midpoint of the edge from the previous corner (A3, the previous sub-face's A1),
// the solvers of the three triangles the search tests, and the FaceMaps of its two halves.
struct SubFace {
    Vec3f corner;             // A0
    Vec3f toNext;             // A1
    PlanarSolver lowerHalf;   // (A0; A1, A2)
    PlanarSolver upperHalf;   // (A2; A3, A0)
    PlanarSolver cornerHalf;  // (A0; A1, A3): which half of the sub-face frames the point
    FaceMap halves[2];        // the frames at A0 (corner 0) and at A2 (corner 2); kNoFace if degenerate
};

// The d sub-faces of n-gon `faceIndex` of the mesh (3 <= d, d != 4), into subFaces[0 ... d).
void makeSubFaces(const OrigPolyMesh& mesh, int32_t faceIndex, SubFace* subFaces) noexcept;

// Sub-faces made at frame start: the records of face f start at records[starts[f]] (-1 for a
// face without). Null members: every face works its sub-faces out per point.
struct PreparedSubFaces {
    const int32_t* starts = nullptr;
    const SubFace* records = nullptr;
};

// The sub-face of t's n-gon (or triangle in a quad-type file) that mesh position q lies in, and
// its half's FaceMap. False for a degenerate half or a face without corners. The sub-faces come
// from `prepared` where it has them; the result is the same bit for bit either way.
bool subFaceMap(const OrigPolyMesh& mesh, int32_t t, Vec3f q, const PreparedSubFaces& prepared, FaceMap& map) noexcept;

// The frame search itself, for tests and benchmarks that compare against it: t's frame in a
// triangle-type mesh, and in a quad-type mesh at mesh position q (false for a face with fewer
// than three corners). The caller has checked t and, for a 4-corner face, t's "faces" entries.
void locateFace(const OrigTriMesh& mesh, int32_t t, FaceFrame& frame) noexcept;
bool locateFace(const OrigPolyMesh& mesh, const int32_t* faces, int32_t t, Vec3f q, FaceFrame& frame) noexcept;
