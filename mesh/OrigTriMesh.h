// OrigTriMesh: the topology for Ptex files of the triangle mesh type. Every original face is a
// triangle, and render triangle t is original triangle t and Ptex face t.
#pragma once

#include "OrigMesh.h"

#include <memory>

class OrigTriMesh final : public OrigMesh {
public:
    OrigTriMesh() = default;
    ~OrigTriMesh() override;

    // Needs "origFaces" to hold 3 * numFaces indices, each naming a vertex. The values of
    // "origFacesDegree" are not read: every face is a triangle.
    void build() noexcept override;
    const float* getVertex(int t, int k) const noexcept override;
    int getFaceDegree(int t) const noexcept override;
    // The address of the table entry that points at triangle t's three stored vertex indices
    // (a `const int32_t* const*`).
    const void* getFace(int t) const noexcept override;
    void mapCorner(int t, int& k) const noexcept override;

private:
    void dropTables() noexcept override;

    // Entry i points at element 3i of faceVertices, the stored indices of triangle i.
    std::unique_ptr<const int32_t*[]> faceTable;
};
