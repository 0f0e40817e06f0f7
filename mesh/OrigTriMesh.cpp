// Triangle-type topology: checks the lists and points one table entry at each stored triangle.
#include "OrigTriMesh.h"

#include <new>

OrigTriMesh::~OrigTriMesh() = default;

void OrigTriMesh::build() noexcept
{
    dropTables();
    numTriangles = 0;
    isValid = false;
    if (!checkListsSet()) return;

    const int64_t needed = 3 * static_cast<int64_t>(numFaces);
    if (needed > faceVertexCount) {
        fail("\"origFaces\" holds %d indices but %d triangles need %lld", faceVertexCount, numFaces,
             static_cast<long long>(needed));
        return;
    }
    for (int32_t face = 0; face < numFaces; ++face) {
        if (!checkVertexIndices(face, 3 * static_cast<int64_t>(face), 3)) return;
    }

    if (numFaces > 0) {
        faceTable.reset(new (std::nothrow) const int32_t*[static_cast<size_t>(numFaces)]);
        if (!faceTable) {
            fail("out of memory for the table of %d triangles", numFaces);
            return;
        }
        for (int32_t face = 0; face < numFaces; ++face)
            faceTable[face] = faceVertices + 3 * static_cast<std::ptrdiff_t>(face);
    }
    numTriangles = numFaces;
    succeed();
}

const float* OrigTriMesh::getVertex(int t, int k) const noexcept
{
    // Reversed, corner 0 stays and corners 1 and 2 swap.
    const int stored = reverse ? (3 - k) % 3 : k;
    return vertexData(faceTable[t][stored]);
}

int OrigTriMesh::getFaceDegree(int) const noexcept { return 3; }

const void* OrigTriMesh::getFace(int t) const noexcept { return &faceTable[t]; }

void OrigTriMesh::mapCorner(int, int& k) const noexcept
{
    if (reverse) k = (3 - k) % 3;
}

void OrigTriMesh::dropTables() noexcept { faceTable.reset(); }
