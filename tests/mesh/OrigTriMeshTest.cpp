// OrigTriMesh on valid lists: one render triangle per stored triangle, corners 1 and 2 swapped by
// the reversal, degree 3 whatever "origFacesDegree" holds.
#include "MeshLists.h"
#include "OrigTriMesh.h"

#include <gtest/gtest.h>

namespace {

using tarsk::test::linePositions;
using tarsk::test::MeshLists;

TEST(OrigTriMesh, RenderTriangleIsStoredTriangleWithCornersOneAndTwoSwappedWhenReversed)
{
    // The degree values are not read: every face of a triangle-type mesh has 3 corners.
    MeshLists lists(linePositions(6), {0, 1, 2, 5, 4, 3, 2, 3, 4}, {7, 0, -1});
    const float* positions = lists.vertexStorage();
    const int32_t* stored = lists.faceIndexStorage();
    auto forward = lists.build<OrigTriMesh>(false);
    auto reversed = lists.build<OrigTriMesh>(true);
    ASSERT_TRUE(forward && forward->valid()) << (forward ? forward->error() : "");
    ASSERT_TRUE(reversed && reversed->valid());
    ASSERT_EQ(forward->numTriangles, 3);
    ASSERT_EQ(reversed->numTriangles, 3);

    const int storedOfReversed[3] = {0, 2, 1};
    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(forward->getFaceDegree(t), 3);
        // getFace answers the table entry that points at the triangle's stored indices.
        const auto* entry = static_cast<const int32_t* const*>(forward->getFace(t));
        EXPECT_EQ(*entry, stored + 3 * t);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(forward->getVertex(t, k), positions + 3 * stored[3 * t + k]);
            EXPECT_EQ(reversed->getVertex(t, k), positions + 3 * stored[3 * t + storedOfReversed[k]]);
            // Same corner, same address: pointers into the host's storage, not copies.
            EXPECT_EQ(reversed->getVertex(t, k), reversed->getVertex(t, k));

            int corner = k;
            forward->mapCorner(t, corner);
            EXPECT_EQ(corner, k);
            reversed->mapCorner(t, corner);
            EXPECT_EQ(corner, storedOfReversed[k]);
            EXPECT_EQ(reversed->getVertex(t, corner), forward->getVertex(t, k));
            reversed->mapCorner(t, corner);
            EXPECT_EQ(corner, k);
        }
    }
}

TEST(OrigTriMesh, DegreesAreOptionalForReadingButTheFaceCountNeedsTheList)
{
    MeshLists lists(linePositions(3), {0, 1, 2}, {3});
    OrigTriMesh mesh;
    ASSERT_TRUE(mesh.setVertices(0.0, &lists.vertices));
    ASSERT_TRUE(mesh.setFaceVertices(0.0, &lists.origFaces));
    EXPECT_TRUE(mesh.setFaceDegrees(0.0, nullptr));
    EXPECT_FALSE(mesh.setNumFaces(0.0, nullptr));
    EXPECT_STRNE(mesh.error(), "");
    // A build without the face count is refused, not guessed.
    mesh.build();
    EXPECT_FALSE(mesh.valid());
    EXPECT_EQ(mesh.numTriangles, 0);

    ASSERT_TRUE(mesh.setNumFaces(0.0, &lists.origFacesDegree));
    mesh.build();
    EXPECT_TRUE(mesh.valid()) << mesh.error();
    EXPECT_EQ(mesh.numTriangles, 1);
}

TEST(OrigTriMesh, EmptyMeshIsValidWithNoTriangles)
{
    MeshLists lists({}, {}, {});
    auto mesh = lists.build<OrigTriMesh>();
    ASSERT_TRUE(mesh);
    EXPECT_TRUE(mesh->valid()) << mesh->error();
    EXPECT_EQ(mesh->numTriangles, 0);
}

}  // namespace
