#include "MeshLists.h"

#include <cmath>

namespace tarsk::host {

MeshLists meshListsFromObj(const ObjMesh& obj)
{
    MeshLists lists;
    lists.vertices.reserve(obj.positions.size());
    for (const Vec3& p : obj.positions)
        lists.vertices.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
    lists.origFaces = obj.cornerPositions;
    lists.origFacesDegree = obj.faceDegrees;
    for (int f = 0; f < obj.numFaces(); ++f) {
        const int32_t* corners = obj.cornerPositions.data() + obj.faceStarts[f];
        for (int k = 1; k + 1 < obj.faceDegrees[f]; ++k) {
            lists.faces.push_back(corners[0]);
            lists.faces.push_back(corners[k]);
            lists.faces.push_back(corners[k + 1]);
        }
    }
    return lists;
}

std::string findMeshListFault(const MeshLists& lists)
{
    const int64_t numVertices = static_cast<int64_t>(lists.vertices.size());
    for (size_t i = 0; i < lists.vertices.size(); ++i) {
        const auto& v = lists.vertices[i];
        if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
            return "\"vertices\"[" + std::to_string(i) + "] is not finite";
    }
    int64_t cornerSum = 0, triangleSum = 0;
    for (size_t f = 0; f < lists.origFacesDegree.size(); ++f) {
        int32_t d = lists.origFacesDegree[f];
        if (d < 3)
            return "\"origFacesDegree\"[" + std::to_string(f) + "] is " + std::to_string(d) +
                   "; a face needs at least 3 corners";
        cornerSum += d;
        triangleSum += d - 2;
    }
    if (cornerSum != static_cast<int64_t>(lists.origFaces.size()))
        return "\"origFaces\" holds " + std::to_string(lists.origFaces.size()) + " indices but the degrees add up to " +
               std::to_string(cornerSum);
    for (size_t i = 0; i < lists.origFaces.size(); ++i)
        if (lists.origFaces[i] < 0 || lists.origFaces[i] >= numVertices)
            return "\"origFaces\"[" + std::to_string(i) + "] = " + std::to_string(lists.origFaces[i]) +
                   " is outside the " + std::to_string(numVertices) + " vertices";
    if (lists.faces.size() % 3 != 0)
        return "\"faces\" holds " + std::to_string(lists.faces.size()) + " indices, not a multiple of 3";
    for (size_t i = 0; i < lists.faces.size(); ++i)
        if (lists.faces[i] < 0 || lists.faces[i] >= numVertices)
            return "\"faces\"[" + std::to_string(i) + "] = " + std::to_string(lists.faces[i]) + " is outside the " +
                   std::to_string(numVertices) + " vertices";
    if (triangleSum != static_cast<int64_t>(lists.faces.size() / 3))
        return "\"faces\" holds " + std::to_string(lists.faces.size() / 3) + " triangles but the degrees call for " +
               std::to_string(triangleSum);
    return {};
}

}  // namespace tarsk::host
