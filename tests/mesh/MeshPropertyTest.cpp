// Random meshes, fanned into render triangles as a renderer would: for every render triangle the
// topology must agree with a plain recomputation of its face, corners, centre and Ptex ids.
#include "MeshLists.h"
#include "OrigPolyMesh.h"
#include "OrigTriMesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using tarsk::test::MeshLists;

struct RandomPolygonMesh {
    std::vector<TUtils::Vector3f> positions;
    std::vector<int32_t> indices;
    std::vector<int32_t> degrees;
    // What a renderer would hand over: three vertex indices per render triangle, and for the
    // check the face each triangle came from.
    std::vector<int32_t> renderTriangles;
    std::vector<int32_t> faceOfRenderTriangle;
};

// Degrees 3 to 9, fanned from corner 0; with `degenerate`, some faces of degree -2 to 2 between.
RandomPolygonMesh makeRandomMesh(std::mt19937& random, bool degenerate)
{
    RandomPolygonMesh mesh;
    const int vertexCount = std::uniform_int_distribution<int>(1, 300)(random);
    std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
    for (int i = 0; i < vertexCount; ++i)
        mesh.positions.push_back({coordinate(random), coordinate(random), coordinate(random)});

    std::uniform_int_distribution<int32_t> vertex(0, vertexCount - 1);
    std::uniform_int_distribution<int32_t> degree(3, 9);
    std::uniform_int_distribution<int32_t> degenerateDegree(-2, 2);
    std::bernoulli_distribution pickDegenerate(0.15);
    const int faceCount = std::uniform_int_distribution<int>(0, 120)(random);
    for (int face = 0; face < faceCount; ++face) {
        const int32_t d = degenerate && pickDegenerate(random) ? degenerateDegree(random) : degree(random);
        mesh.degrees.push_back(d);
        const size_t first = mesh.indices.size();
        for (int32_t j = 0; j < d; ++j) mesh.indices.push_back(vertex(random));
        for (int32_t j = 0; j + 2 < d; ++j) {
            mesh.renderTriangles.insert(mesh.renderTriangles.end(), {mesh.indices[first], mesh.indices[first + j + 1],
                                                                     mesh.indices[first + j + 2]});
            mesh.faceOfRenderTriangle.push_back(face);
        }
    }
    return mesh;
}

void checkPolygonMesh(const RandomPolygonMesh& source, bool reverse)
{
    MeshLists lists(source.positions, source.indices, source.degrees);
    auto mesh = lists.build<OrigPolyMesh>(reverse);
    ASSERT_TRUE(mesh && mesh->valid()) << (mesh ? mesh->error() : "");
    const float* positions = lists.vertexStorage();
    const int32_t* stored = lists.faceIndexStorage();
    ASSERT_EQ(mesh->numTriangles, static_cast<int32_t>(source.faceOfRenderTriangle.size()));

    // Per face: first stored index, first Ptex id, corners in getVertex order, centre.
    std::vector<size_t> firstIndex;
    std::vector<int32_t> firstPtexId;
    size_t offset = 0;
    int32_t ptexId = 0;
    for (int32_t d : source.degrees) {
        firstIndex.push_back(offset);
        firstPtexId.push_back(ptexId);
        const int32_t corners = std::max(d, 0);
        offset += corners;
        ptexId += d == 4 ? 1 : corners;
    }
    EXPECT_EQ(mesh->numPtexFaces(), ptexId);

    for (int t = 0; t < mesh->numTriangles; ++t) {
        const int32_t face = source.faceOfRenderTriangle[t];
        const int32_t d = source.degrees[face];
        const int32_t* faceIndices = source.indices.data() + firstIndex[face];
        ASSERT_EQ(mesh->getFaceDegree(t), d);
        const auto* record = static_cast<const OrigFace*>(mesh->getFace(t));
        ASSERT_EQ(record, &mesh->faceRecord(face));
        EXPECT_EQ(record->vertexIndices, stored + firstIndex[face]);
        EXPECT_EQ(record->ptexFaceId, firstPtexId[face]);

        // Corners: reversed order keeps corner 0 and walks the rest backwards.
        std::vector<int32_t> corners(faceIndices, faceIndices + d);
        if (reverse) std::reverse(corners.begin() + 1, corners.end());
        for (int k = 0; k < d; ++k)
            ASSERT_EQ(mesh->getVertex(t, k), positions + 3 * corners[k]) << "triangle " << t << " corner " << k;

        // The render triangle's vertices are among the face's stored vertices, and a stored corner
        // found by index comparison reaches its own position after mapCorner.
        for (int j = 0; j < 3; ++j) {
            const int32_t v = source.renderTriangles[3 * t + j];
            const int storedCorner = static_cast<int>(std::find(faceIndices, faceIndices + d, v) - faceIndices);
            ASSERT_LT(storedCorner, d);
            int k = storedCorner;
            mesh->mapCorner(t, k);
            EXPECT_EQ(mesh->getVertex(t, k), positions + 3 * v);
        }

        // Centre: the mean of the stored corners, summed in stored order in floats.
        float sum[3] = {0.0f, 0.0f, 0.0f};
        for (int j = 0; j < d; ++j)
            for (int axis = 0; axis < 3; ++axis) sum[axis] += positions[3 * faceIndices[j] + axis];
        for (int axis = 0; axis < 3; ++axis) EXPECT_EQ(record->center[axis], sum[axis] / static_cast<float>(d));
    }
}

TEST(MeshProperty, RandomPolygonMeshesAgreeWithARecomputation)
{
    std::mt19937 random(20100607);
    for (int round = 0; round < 150; ++round) {
        const RandomPolygonMesh source = makeRandomMesh(random, round % 3 == 2);
        for (bool reverse : {false, true}) {
            SCOPED_TRACE(testing::Message() << "round " << round << (reverse ? " reversed" : ""));
            checkPolygonMesh(source, reverse);
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(MeshProperty, RandomTriangleMeshesAgreeWithARecomputation)
{
    std::mt19937 random(7);
    for (int round = 0; round < 100; ++round) {
        const int vertexCount = std::uniform_int_distribution<int>(1, 200)(random);
        const int faceCount = std::uniform_int_distribution<int>(0, 150)(random);
        std::vector<TUtils::Vector3f> positions(vertexCount);
        std::vector<int32_t> indices(3 * faceCount);
        std::uniform_int_distribution<int32_t> vertex(0, vertexCount - 1);
        for (int32_t& index : indices) index = vertex(random);
        // Spare indices past 3 * faceCount are allowed and ignored.
        indices.resize(indices.size() + round % 4, 0);
        MeshLists lists(positions, indices, std::vector<int32_t>(faceCount, 3));
        const float* storage = lists.vertexStorage();
        for (bool reverse : {false, true}) {
            auto mesh = lists.build<OrigTriMesh>(reverse);
            ASSERT_TRUE(mesh && mesh->valid()) << (mesh ? mesh->error() : "");
            ASSERT_EQ(mesh->numTriangles, faceCount);
            for (int t = 0; t < faceCount; ++t) {
                const int32_t expected[3] = {indices[3 * t], indices[3 * t + (reverse ? 2 : 1)],
                                             indices[3 * t + (reverse ? 1 : 2)]};
                for (int k = 0; k < 3; ++k) ASSERT_EQ(mesh->getVertex(t, k), storage + 3 * expected[k]);
            }
        }
    }
}

}  // namespace
