// PtexFaceLayout: the Ptex faces of a polygon mesh and their adjacency, as the plug-in's topology
// numbers them. A mesh of triangles only becomes a triangle-type file, one face per triangle; any
// other mesh a quad-type file where a 4-corner face is one face and a face of d != 4 corners is d
// sub-faces, one per corner, with consecutive ids. Adjacency follows the mesh's shared edges.
#pragma once

#include "ObjMesh.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarsk::bake {

using host::ObjMesh;
using host::Vec3;

struct PtexFaceRecord {
    int originalFace = 0;
    int subFace = -1;    // corner k of an n-gon's sub-face, -1 for a whole face
    int numCorners = 4;  // 3 for the faces of a triangle-type file
    // Corner positions (object space) and texture coordinates at (u, v) = (0,0), (1,0), (1,1),
    // (0,1) for quads, (0,0), (1,0), (0,1) for triangles. Sub-face corners are the original corner,
    // the midpoint of the following edge, the face centre and the midpoint of the preceding edge.
    std::array<Vec3, 4> corners;
    std::array<std::array<double, 2>, 4> uvs{};
    std::array<int32_t, 4> adjFaces{-1, -1, -1, -1};
    std::array<int32_t, 4> adjEdges{0, 0, 0, 0};
};

struct PtexFaceLayout {
    bool quadType = true;
    std::vector<PtexFaceRecord> faces;
    std::vector<int32_t> firstFaceId;   // per original face: its Ptex face id (first sub-face)
    std::vector<std::string> warnings;  // mesh faults that left edges without a neighbour
};

// Builds the layout. Edges shared by more than two faces, edges that two faces run in the same
// direction and the edges of degenerate faces (a corner repeated) get no neighbour, with a warning.
// Corner UVs are taken from the OBJ when every corner has one, else left zero.
PtexFaceLayout buildPtexFaceLayout(const ObjMesh& mesh);

}  // namespace tarsk::bake
