// Polygon-type topology: checks the lists, then lays out per-face records (first index, centre,
// first Ptex id) and the render-triangle-to-face table in one pass each.
#include "OrigPolyMesh.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int32_t>::max();

// A 4-corner face is one Ptex face; any other face is one sub-face per corner, and a face
// without corners has none.
int64_t ptexIdsOf(int32_t degree) { return degree == 4 ? 1 : std::max<int64_t>(degree, 0); }

int64_t trianglesOf(int32_t degree) { return std::max<int64_t>(int64_t{degree} - 2, 0); }

}  // namespace

OrigPolyMesh::~OrigPolyMesh() = default;

bool OrigPolyMesh::setFaceDegrees(double time, const TUtils::TarskPluginParameter* param) noexcept
{
    if (!readIntList(time, param, "origFacesDegree", faceDegrees, faceDegreeCount)) return false;
    faceDegreesSet = true;
    return true;
}

void OrigPolyMesh::build() noexcept
{
    dropTables();
    numTriangles = 0;
    isValid = false;
    if (!checkListsSet()) return;
    if (!faceDegreesSet) {
        fail("\"origFacesDegree\" degrees were not set");
        return;
    }
    if (numFaces > faceDegreeCount) {
        fail("%d faces but \"origFacesDegree\" holds %d degrees", numFaces, faceDegreeCount);
        return;
    }

    // Check every list access before making anything. Counts are summed in 64 bits: each sum is
    // bounded by the "origFaces" length once that check passes, but is checked all the same.
    int64_t indexCount = 0;
    int64_t triangleCount = 0;
    int64_t ptexIdCount = 0;
    for (int32_t face = 0; face < numFaces; ++face) {
        const int32_t degree = faceDegrees[face];
        const int64_t corners = std::max<int64_t>(degree, 0);
        if (indexCount + corners > faceVertexCount) {
            fail("face %d (degree %d) needs %lld \"origFaces\" indices in all, but the list holds %d", face, degree,
                 static_cast<long long>(indexCount) + corners, faceVertexCount);
            return;
        }
        if (!checkVertexIndices(face, indexCount, corners)) return;
        indexCount += corners;
        triangleCount += trianglesOf(degree);
        ptexIdCount += ptexIdsOf(degree);
        if (triangleCount > kMaxCount || ptexIdCount > kMaxCount) {
            fail("face %d: the render-triangle or Ptex face count passes %lld", face,
                 static_cast<long long>(kMaxCount));
            return;
        }
    }

    if (numFaces > 0) {
        faceRecords.reset(new (std::nothrow) OrigFace[static_cast<size_t>(numFaces)]);
        if (triangleCount > 0) triangleFace.reset(new (std::nothrow) int32_t[static_cast<size_t>(triangleCount)]);
        if (!faceRecords || (triangleCount > 0 && !triangleFace)) {
            fail("out of memory for the tables of %d faces and %lld render triangles", numFaces,
                 static_cast<long long>(triangleCount));
            return;
        }
    }

    const int32_t* faceStart = faceVertices;
    int32_t triangle = 0;
    int32_t ptexFaceId = 0;
    int32_t degenerate = 0;
    for (int32_t face = 0; face < numFaces; ++face) {
        const int32_t degree = faceDegrees[face];
        OrigFace& record = faceRecords[face];
        record.vertexIndices = faceStart;
        record.ptexFaceId = ptexFaceId;
        if (degree > 0) {
            // Summed in stored order whatever `reverse` says, so the centre does not depend on it.
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (int32_t j = 0; j < degree; ++j) {
                const float* position = vertexData(faceStart[j]);
                sum[0] += position[0];
                sum[1] += position[1];
                sum[2] += position[2];
            }
            const float count = static_cast<float>(degree);
            for (int axis = 0; axis < 3; ++axis) record.center[axis] = sum[axis] / count;
            faceStart += degree;
        }
        if (degree < 3) ++degenerate;
        for (int64_t k = trianglesOf(degree); k > 0; --k) triangleFace[triangle++] = face;
        ptexFaceId += static_cast<int32_t>(ptexIdsOf(degree));
    }

    numTriangles = triangle;
    ptexFaceCount = ptexFaceId;
    degenerateFaceCount = degenerate;
    succeed();
}

const float* OrigPolyMesh::getVertex(int t, int k) const noexcept
{
    const int32_t face = triangleFace[t];
    const int32_t degree = faceDegrees[face];
    // Reversed, corner 0 stays first and the others run backwards.
    const int stored = reverse ? (degree - k) % degree : k;
    return vertexData(faceRecords[face].vertexIndices[stored]);
}

int OrigPolyMesh::getFaceDegree(int t) const noexcept { return faceDegrees[triangleFace[t]]; }

const void* OrigPolyMesh::getFace(int t) const noexcept { return &faceRecords[triangleFace[t]]; }

void OrigPolyMesh::mapCorner(int t, int& k) const noexcept
{
    if (reverse) {
        const int32_t degree = faceDegrees[triangleFace[t]];
        k = (degree - k) % degree;
    }
}

void OrigPolyMesh::dropTables() noexcept
{
    faceRecords.reset();
    triangleFace.reset();
    ptexFaceCount = 0;
    degenerateFaceCount = 0;
}
