// MeshLists: the three mesh list parameters of a scene, held as host parameter values, and the
// frame-start sequence that fills and builds a topology object from them.
#pragma once

#include "OrigMesh.h"

#include <tarsk/TarskPluginParameter.h>

#include <memory>
#include <utility>
#include <vector>

namespace tarsk::test {

struct MeshLists {
    MeshLists(std::vector<TUtils::Vector3f> positions, std::vector<int32_t> faceIndices, std::vector<int32_t> degrees)
        : vertices("vertices"), origFaces("origFaces"), origFacesDegree("origFacesDegree")
    {
        vertices.setVectorList(0.0, std::move(positions));
        origFaces.setIntList(0.0, std::move(faceIndices));
        origFacesDegree.setIntList(0.0, std::move(degrees));
    }

    // Follows the frame start: vertices, origFaces, degrees, face count, reverse, build. Answers
    // null when a reading operation refuses its list (the mesh is then never built).
    template <typename Mesh>
    std::unique_ptr<Mesh> build(bool reverse = false) const
    {
        auto mesh = std::make_unique<Mesh>();
        if (!mesh->setVertices(0.0, &vertices) || !mesh->setFaceVertices(0.0, &origFaces) ||
            !mesh->setFaceDegrees(0.0, &origFacesDegree) || !mesh->setNumFaces(0.0, &origFacesDegree))
            return nullptr;
        mesh->reverse = reverse ? 1 : 0;
        mesh->build();
        return mesh;
    }

    // Element pointer of the host's storage of "vertices", to compare getVertex results with.
    const float* vertexStorage() const
    {
        TUtils::ListRef<TUtils::Vector3f> list = vertices.getVectorList(0.0);
        const float* data = list.data ? &list.data->x : nullptr;
        list.release();
        return data;
    }
    const int32_t* faceIndexStorage() const
    {
        TUtils::ListRef<int32_t> list = origFaces.getIntList(0.0);
        const int32_t* data = list.data;
        list.release();
        return data;
    }

    TUtils::TarskPluginParameter vertices;
    TUtils::TarskPluginParameter origFaces;
    TUtils::TarskPluginParameter origFacesDegree;
};

// A unit grid of positions (i, 0, 0) ... enough to give every test face distinct corners.
inline std::vector<TUtils::Vector3f> linePositions(int count)
{
    std::vector<TUtils::Vector3f> positions;
    for (int i = 0; i < count; ++i) positions.push_back({static_cast<float>(i), static_cast<float>(i * i), 1.0f});
    return positions;
}

}  // namespace tarsk::test
