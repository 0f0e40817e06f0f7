// ObjMesh: a polygon mesh as a Wavefront OBJ file holds it (positions, optional texture
// coordinates and normals, faces of any degree in file order), with a strict reader and a writer.
// Scenes turn it into the plug-in's mesh lists; ptex-bake samples images through its UVs.
#pragma once

#include "Vec3.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarsk::host {

struct ObjMesh {
    std::vector<Vec3> positions;
    std::vector<std::array<double, 2>> uvs;
    std::vector<Vec3> normals;
    // Corner lists of all faces, face after face: position indices, texture-coordinate and
    // normal indices (-1 where the face gives none), all 0-based.
    std::vector<int32_t> cornerPositions;
    std::vector<int32_t> cornerUvs;
    std::vector<int32_t> cornerNormals;
    std::vector<int32_t> faceDegrees;
    std::vector<int32_t> faceStarts;  // index of each face's first corner in the corner lists

    int numFaces() const { return static_cast<int>(faceDegrees.size()); }
    // True when every corner of every face names a texture coordinate.
    bool hasUvs() const;
    // True when some corner names a normal.
    bool hasNormals() const;
    void addFace(const std::vector<int32_t>& positionIndices, const std::vector<int32_t>& uvIndices = {},
                 const std::vector<int32_t>& normalIndices = {});
};

// Reads an OBJ file: "v", "vt", "vn" and "f" lines (corners as v, v/vt, v//vn or v/vt/vn; negative indices count from the end); other
// statements are ignored. Throws HostError naming the file and line for malformed numbers,
// indices out of range, faces with fewer than three corners, lines longer than kMaxLineLength
// and more elements than 32-bit indices reach.
ObjMesh readObj(const std::string& path);

// Writes the mesh as an OBJ file; throws HostError when the file cannot be written.
void writeObj(const std::string& path, const ObjMesh& mesh);

}  // namespace tarsk::host
