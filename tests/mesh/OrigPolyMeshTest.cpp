// OrigPolyMesh on valid lists: the face, triangle and Ptex-id layout, the reversal rule, centres,
// and the reading operations' handling of the host's lists.
#include "MeshLists.h"
#include "OrigPolyMesh.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace {

using tarsk::test::linePositions;
using tarsk::test::MeshLists;

// Consecutive vertex indices 0, 1, 2, ... for the given degrees (negative ones take none).
std::vector<int32_t> consecutiveIndices(const std::vector<int32_t>& degrees)
{
    int total = 0;
    for (int32_t d : degrees) total += d > 0 ? d : 0;
    std::vector<int32_t> indices(total);
    std::iota(indices.begin(), indices.end(), 0);
    return indices;
}

struct LayoutCase {
    const char* name;
    std::vector<int32_t> degrees;
    std::vector<int32_t> ptexFaceIds;
    int32_t numPtexFaces;
    std::vector<int32_t> triangleFaces;
    std::vector<int32_t> firstIndex;  // element of "origFaces" where each face's indices start
};

TEST(OrigPolyMeshLayout, IdsTrianglesAndIndexOffsetsFollowTheDegrees)
{
    const std::vector<LayoutCase> cases = {
        {"mixed", {4, 3, 4, 5}, {0, 1, 4, 5}, 10, {0, 0, 1, 2, 2, 3, 3, 3}, {0, 4, 7, 11}},
        {"triangle among quads", {4, 3, 4}, {0, 1, 4}, 5, {0, 0, 1, 2, 2}, {0, 4, 7}},
        {"single triangle", {3}, {0}, 3, {0}, {0}},
        {"hexagon", {6, 4}, {0, 6}, 7, {0, 0, 0, 0, 1, 1}, {0, 6}},
        // Degenerate faces: no triangles; d ids for d = 1, 2 and none below, so the quad and
        // pentagon at the end keep the ids an exporter would give them.
        {"degenerate faces",
         {4, 0, 3, -5, 1, 2, 4, 5},
         {0, 1, 1, 4, 4, 5, 7, 8},
         13,
         {0, 0, 2, 6, 6, 7, 7, 7},
         {0, 4, 4, 7, 7, 8, 10, 14}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<int32_t> indices = consecutiveIndices(c.degrees);
        MeshLists lists(linePositions(static_cast<int>(indices.size()) + 1), indices, c.degrees);
        auto mesh = lists.build<OrigPolyMesh>();
        ASSERT_TRUE(mesh && mesh->valid()) << (mesh ? mesh->error() : "set-up refused");
        EXPECT_STREQ(mesh->error(), "");
        EXPECT_EQ(mesh->numFaces, static_cast<int32_t>(c.degrees.size()));
        EXPECT_EQ(mesh->numPtexFaces(), c.numPtexFaces);
        ASSERT_EQ(mesh->numTriangles, static_cast<int32_t>(c.triangleFaces.size()));

        const int32_t* stored = lists.faceIndexStorage();
        for (size_t f = 0; f < c.degrees.size(); ++f) {
            EXPECT_EQ(mesh->faceRecord(f).ptexFaceId, c.ptexFaceIds[f]) << "face " << f;
            EXPECT_EQ(mesh->faceRecord(f).vertexIndices - stored, c.firstIndex[f]) << "face " << f;
        }
        for (int t = 0; t < mesh->numTriangles; ++t) {
            const int32_t face = c.triangleFaces[t];
            EXPECT_EQ(mesh->faceOfTriangle(t), face) << "triangle " << t;
            EXPECT_EQ(mesh->getFaceDegree(t), c.degrees[face]);
            // Every triangle of a face answers that face's one record.
            EXPECT_EQ(mesh->getFace(t), &mesh->faceRecord(face));
            EXPECT_EQ(&mesh->origFace(t), &mesh->faceRecord(face));
        }
    }
}

TEST(OrigPolyMeshLayout, QuadsOnlyTakeOneIdAndTwoTrianglesEach)
{
    const int quads = 257;
    const std::vector<int32_t> degrees(quads, 4);
    MeshLists lists(linePositions(4 * quads), consecutiveIndices(degrees), degrees);
    auto mesh = lists.build<OrigPolyMesh>();
    ASSERT_TRUE(mesh && mesh->valid());
    EXPECT_EQ(mesh->numTriangles, 2 * quads);
    EXPECT_EQ(mesh->numPtexFaces(), quads);
    EXPECT_EQ(mesh->numDegenerateFaces(), 0);
    for (int t = 0; t < mesh->numTriangles; ++t) {
        EXPECT_EQ(mesh->faceOfTriangle(t), t / 2);
        EXPECT_EQ(mesh->origFace(t).ptexFaceId, t / 2);
    }
}

TEST(OrigPolyMeshLayout, EmptyMeshIsValidWithNoTriangles)
{
    MeshLists lists({}, {}, {});
    auto mesh = lists.build<OrigPolyMesh>();
    ASSERT_TRUE(mesh);
    EXPECT_TRUE(mesh->valid()) << mesh->error();
    EXPECT_EQ(mesh->numFaces, 0);
    EXPECT_EQ(mesh->numTriangles, 0);
    EXPECT_EQ(mesh->numPtexFaces(), 0);
}

TEST(OrigPolyMeshCorners, ReversalRunsCornersBackwardsAndMapCornerIsItsOwnInverse)
{
    // A pentagon stored as vertices 10 ... 14.
    MeshLists lists(linePositions(15), {10, 11, 12, 13, 14}, {5});
    const float* positions = lists.vertexStorage();
    auto forward = lists.build<OrigPolyMesh>(false);
    auto reversed = lists.build<OrigPolyMesh>(true);
    ASSERT_TRUE(forward && forward->valid() && reversed && reversed->valid());
    ASSERT_EQ(reversed->numTriangles, 3);

    const int storedOfReversed[5] = {0, 4, 3, 2, 1};
    for (int t = 0; t < 3; ++t) {
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(forward->getVertex(t, k), positions + 3 * (10 + k));
            EXPECT_EQ(reversed->getVertex(t, k), positions + 3 * (10 + storedOfReversed[k]));
            int mapped = k;
            forward->mapCorner(t, mapped);
            EXPECT_EQ(mapped, k);
            reversed->mapCorner(t, mapped);
            EXPECT_EQ(mapped, storedOfReversed[k]);
        }
    }

    // For every degree: mapCorner twice is the identity, and a stored corner, mapped, reaches the
    // same position through getVertex as reading it from vertexIndices directly.
    for (int degree = 3; degree <= 12; ++degree) {
        std::vector<int32_t> indices(degree);
        std::iota(indices.begin(), indices.end(), 0);
        MeshLists polygon(linePositions(degree), indices, {degree});
        const float* storage = polygon.vertexStorage();
        auto mesh = polygon.build<OrigPolyMesh>(true);
        ASSERT_TRUE(mesh && mesh->valid());
        for (int t = 0; t < mesh->numTriangles; ++t) {
            for (int stored = 0; stored < degree; ++stored) {
                int k = stored;
                mesh->mapCorner(t, k);
                ASSERT_GE(k, 0);
                ASSERT_LT(k, degree);
                EXPECT_EQ(mesh->getVertex(t, k), storage + 3 * mesh->origFace(t).vertexIndices[stored]);
                mesh->mapCorner(t, k);
                EXPECT_EQ(k, stored);
            }
        }
    }
}

TEST(OrigPolyMeshCorners, CentreIsTheStoredOrderSumDividedByTheDegree)
{
    // Unit square, then a triangle whose y values cancel only when summed in stored order
    // ((1e8 + 1) - 1e8 = 0 in floats, while 1e8 - 1e8 + 1 = 1) and whose x sum 5, divided by 3,
    // differs from 5 times the float 1/3.
    MeshLists lists({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 1e8f, 0}, {2, 1, 0}, {2, -1e8f, 0}},
                    {0, 1, 2, 3, 4, 5, 6}, {4, 3});
    for (bool reverse : {false, true}) {
        SCOPED_TRACE(reverse ? "reversed" : "forward");
        auto mesh = lists.build<OrigPolyMesh>(reverse);
        ASSERT_TRUE(mesh && mesh->valid());
        const OrigFace& square = mesh->faceRecord(0);
        EXPECT_EQ(square.center[0], 0.5f);
        EXPECT_EQ(square.center[1], 0.5f);
        EXPECT_EQ(square.center[2], 0.0f);
        const OrigFace& triangle = mesh->faceRecord(1);
        volatile float five = 5.0f;
        EXPECT_EQ(triangle.center[0], five / 3.0f);
        EXPECT_NE(triangle.center[0], five * (1.0f / 3.0f));
        EXPECT_EQ(triangle.center[1], 0.0f);
        EXPECT_EQ(triangle.center[2], 0.0f);
    }
}

TEST(OrigPolyMeshLists, ReadingOperationsBorrowTheHostListsAndReleaseTheirHandles)
{
    MeshLists lists(linePositions(8), {0, 1, 2, 3, 4, 5, 6, 7}, {4, 4});
    // Hold a handle on each list: its reference count shows whether the mesh kept one of its own.
    TUtils::ListRef<TUtils::Vector3f> vertexRef = lists.vertices.getVectorList(0.0);
    TUtils::ListRef<int32_t> faceRef = lists.origFaces.getIntList(0.0);
    TUtils::ListRef<int32_t> degreeRef = lists.origFacesDegree.getIntList(0.0);
    const int vertexUses = vertexRef.owner->useCount();
    const int faceUses = faceRef.owner->useCount();
    const int degreeUses = degreeRef.owner->useCount();

    auto mesh = lists.build<OrigPolyMesh>();
    ASSERT_TRUE(mesh && mesh->valid());
    EXPECT_EQ(vertexRef.owner->useCount(), vertexUses);
    EXPECT_EQ(faceRef.owner->useCount(), faceUses);
    EXPECT_EQ(degreeRef.owner->useCount(), degreeUses);
    // Pointers into the host's storage, not copies.
    EXPECT_EQ(mesh->vertices, &vertexRef.data->x);
    EXPECT_EQ(mesh->faceVertices, faceRef.data);
    EXPECT_EQ(mesh->getVertex(3, 2), &vertexRef.data[6].x);
    EXPECT_EQ(mesh->numVertices(), 8);
    EXPECT_EQ(mesh->numFaceVertexIndices(), 8);
    vertexRef.release();
    faceRef.release();
    degreeRef.release();

    // A missing parameter is refused and keeps nothing.
    OrigPolyMesh empty;
    EXPECT_FALSE(empty.setVertices(0.0, nullptr));
    EXPECT_FALSE(empty.setFaceVertices(0.0, nullptr));
    EXPECT_FALSE(empty.setFaceDegrees(0.0, nullptr));
    EXPECT_FALSE(empty.setNumFaces(0.0, nullptr));
    EXPECT_EQ(empty.vertices, nullptr);
    EXPECT_EQ(empty.faceVertices, nullptr);
    EXPECT_EQ(empty.numFaces, 0);
    EXPECT_FALSE(empty.valid());
    EXPECT_STRNE(empty.error(), "");

    // The lists are read at the time given: a second key at time 1 holds a pentagon.
    lists.origFacesDegree.setIntList(1.0, {5});
    lists.origFaces.setIntList(1.0, {7, 6, 5, 4, 3});
    OrigPolyMesh later;
    ASSERT_TRUE(later.setVertices(1.0, &lists.vertices));
    ASSERT_TRUE(later.setFaceVertices(1.0, &lists.origFaces));
    ASSERT_TRUE(later.setFaceDegrees(1.0, &lists.origFacesDegree));
    ASSERT_TRUE(later.setNumFaces(1.0, &lists.origFacesDegree));
    later.build();
    ASSERT_TRUE(later.valid()) << later.error();
    EXPECT_EQ(later.numTriangles, 3);
    EXPECT_EQ(later.getFaceDegree(2), 5);
    EXPECT_EQ(later.origFace(0).vertexIndices[0], 7);
}

}  // namespace
