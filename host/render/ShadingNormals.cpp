#include "ShadingNormals.h"

#include <cmath>
#include <cstdint>

namespace tarsk::render {

namespace {

Vec3 position(const host::MeshLists& lists, int32_t vertex)
{
    const auto& p = lists.vertices[static_cast<size_t>(vertex)];
    return {p.x, p.y, p.z};
}

// Newell's normal of a polygon: its direction follows the corner order, its length is twice the
// polygon's area, which weights the face in the sum around a vertex.
Vec3 faceNormal(const host::MeshLists& lists, size_t first, int degree)
{
    Vec3 n;
    for (int k = 0; k < degree; ++k) {
        Vec3 a = position(lists, lists.origFaces[first + k]);
        Vec3 b = position(lists, lists.origFaces[first + (k + 1) % degree]);
        n += Vec3((a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y));
    }
    return n;
}

}  // namespace

std::vector<Vec3> shadingNormals(const host::MeshLists& lists, const std::vector<Vec3>& givenCornerNormals,
                                 double creaseAngleDegrees)
{
    const size_t numFaces = lists.origFacesDegree.size();
    const size_t numVertices = lists.vertices.size();
    std::vector<size_t> faceStart(numFaces + 1, 0);
    std::vector<Vec3> faceNormals(numFaces), faceDirections(numFaces);
    for (size_t f = 0; f < numFaces; ++f) {
        faceStart[f + 1] = faceStart[f] + static_cast<size_t>(lists.origFacesDegree[f]);
        faceNormals[f] = faceNormal(lists, faceStart[f], lists.origFacesDegree[f]);
        faceDirections[f] = host::normalize(faceNormals[f]);
    }

    // The faces around each vertex, as one array sliced by vertex.
    std::vector<size_t> aroundStart(numVertices + 1, 0);
    for (int32_t v : lists.origFaces) ++aroundStart[static_cast<size_t>(v) + 1];
    for (size_t v = 0; v < numVertices; ++v) aroundStart[v + 1] += aroundStart[v];
    std::vector<uint32_t> around(lists.origFaces.size());
    std::vector<size_t> fill(aroundStart.begin(), aroundStart.end() - 1);
    for (size_t f = 0; f < numFaces; ++f)
        for (size_t c = faceStart[f]; c < faceStart[f + 1]; ++c)
            around[fill[static_cast<size_t>(lists.origFaces[c])]++] = static_cast<uint32_t>(f);

    const double creaseCos = std::cos(creaseAngleDegrees * M_PI / 180.0);
    std::vector<Vec3> cornerNormals(lists.origFaces.size());
    for (size_t f = 0; f < numFaces; ++f)
        for (size_t c = faceStart[f]; c < faceStart[f + 1]; ++c) {
            if (c < givenCornerNormals.size() && host::length(givenCornerNormals[c]) > 0) {
                cornerNormals[c] = host::normalize(givenCornerNormals[c]);
                continue;
            }
            const auto v = static_cast<size_t>(lists.origFaces[c]);
            const bool flatFace = host::length(faceDirections[f]) == 0;
            Vec3 sum;
            for (size_t a = aroundStart[v]; a < aroundStart[v + 1]; ++a) {
                const uint32_t g = around[a];
                if (flatFace || host::dot(faceDirections[f], faceDirections[g]) >= creaseCos) sum += faceNormals[g];
            }
            cornerNormals[c] = host::normalize(sum);
        }

    // Render triangles come face after face, degree - 2 per face; each triangle corner takes the
    // normal of the face corner with the same vertex.
    std::vector<Vec3> triangleNormals(lists.faces.size());
    size_t t = 0;
    for (size_t f = 0; f < numFaces; ++f)
        for (int k = 0; k < lists.origFacesDegree[f] - 2 && t * 3 < lists.faces.size(); ++k, ++t)
            for (size_t corner = 0; corner < 3; ++corner) {
                const int32_t v = lists.faces[3 * t + corner];
                for (size_t c = faceStart[f]; c < faceStart[f + 1]; ++c)
                    if (lists.origFaces[c] == v) {
                        triangleNormals[3 * t + corner] = cornerNormals[c];
                        break;
                    }
            }
    return triangleNormals;
}

}  // namespace tarsk::render
