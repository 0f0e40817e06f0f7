// MeshLists: the four mesh lists of a TexPtex instance ("vertices", "origFaces", "origFacesDegree",
// "faces") as host-side vectors, built from an OBJ by fan triangulation, and checked for the
// consistency that the renderer's own geometry needs.
#pragma once

#include "ObjMesh.h"

#include <tarsk/ListRef.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarsk::host {

struct MeshLists {
    std::vector<TUtils::Vector3f> vertices;
    std::vector<int32_t> origFaces;        // corner vertex indices, face after face
    std::vector<int32_t> origFacesDegree;  // corner count of each face
    std::vector<int32_t> faces;            // three vertex indices per render triangle

    int numTriangles() const { return static_cast<int>(faces.size() / 3); }
};

// The OBJ's faces in file order become "origFaces"/"origFacesDegree"; "faces" is their fan
// triangulation (corner 0, k, k + 1 for k = 1 .. d - 2), d - 2 triangles per face in face order.
MeshLists meshListsFromObj(const ObjMesh& obj);

// Empty when the lists describe a valid mesh; otherwise one sentence naming the first fault:
// indices outside the vertex list, a degree below 3, "origFaces" not holding the sum of the
// degrees, "faces" not a whole number of triangles or not matching the degrees' triangle count.
std::string findMeshListFault(const MeshLists& lists);

}  // namespace tarsk::host
