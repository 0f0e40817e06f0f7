// Many render threads query one built topology at once, as evaluation does during a frame: the
// answers must equal those of a single thread (and the sanitizer build sees no data race).
#include "MeshLists.h"
#include "OrigPolyMesh.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using tarsk::test::MeshLists;

struct TriangleAnswer {
    const void* face;
    int degree;
    const float* corners[6];
};

TEST(MeshConcurrency, ParallelQueriesMatchSequentialOnes)
{
    // Faces of degree 3 to 6 over a small vertex ring, reversed so mapCorner's remainder runs too.
    std::vector<TUtils::Vector3f> positions;
    for (int i = 0; i < 64; ++i) positions.push_back({static_cast<float>(i), 0.5f * i, -1.0f * i});
    std::vector<int32_t> indices;
    std::vector<int32_t> degrees;
    for (int face = 0; face < 4000; ++face) {
        const int d = 3 + face % 4;
        degrees.push_back(d);
        for (int j = 0; j < d; ++j) indices.push_back((face * 7 + j * 3) % 64);
    }
    MeshLists lists(positions, indices, degrees);
    auto mesh = lists.build<OrigPolyMesh>(true);
    ASSERT_TRUE(mesh && mesh->valid()) << (mesh ? mesh->error() : "");
    const OrigMesh& topology = *mesh;

    auto answer = [&topology](int t) {
        TriangleAnswer a{topology.getFace(t), topology.getFaceDegree(t), {}};
        for (int k = 0; k < a.degree; ++k) {
            int corner = k;
            topology.mapCorner(t, corner);
            a.corners[k] = topology.getVertex(t, corner);
        }
        return a;
    };
    std::vector<TriangleAnswer> expected;
    for (int t = 0; t < topology.numTriangles; ++t) expected.push_back(answer(t));

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int pass = 0; pass < 3; ++pass) {
                for (int i = 0; i < topology.numTriangles; ++i) {
                    const int t = (i * 13 + thread * 101 + pass) % topology.numTriangles;
                    const TriangleAnswer a = answer(t);
                    bool same = a.face == expected[t].face && a.degree == expected[t].degree;
                    for (int k = 0; same && k < a.degree; ++k) same = a.corners[k] == expected[t].corners[k];
                    if (!same) mismatches.fetch_add(1, std::memory_order_relaxed);
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
