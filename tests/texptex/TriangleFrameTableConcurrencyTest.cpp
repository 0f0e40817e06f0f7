// Frame start fills the per-triangle table of a large mesh on several threads; render threads
// then read it at once. The table must equal one made on a single thread, entry for entry.
#include "TexPtexHarness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace texptex_test;
using TUtils::ShadingContext;

TEST(TriangleFrameTableConcurrency, ParallelFrameStartMakesTheSingleThreadTable)
{
    // 256 x 256 quads: 131072 render triangles, two workers' worth.
    constexpr int kSide = 256;
    std::vector<Vector3f> vertices;
    std::vector<std::vector<int32_t>> quads;
    for (int y = 0; y <= kSide; ++y)
        for (int x = 0; x <= kSide; ++x) vertices.push_back({float(x), float(y), 0.01f * float((x * 7 + y * 3) % 5)});
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            const int32_t v0 = y * (kSide + 1) + x;
            quads.push_back({v0, v0 + 1, v0 + kSide + 2, v0 + kSide + 1});
        }
    const MeshLists lists = fanMesh(vertices, quads);
    Harness h(4);
    h.setString("ptex_file", writeIdTexture("table-parallel.ptx", true, 4, 2).c_str());
    h.setMesh(lists);
    h.begin();
    ASSERT_TRUE(h.tex().ready);
    const TriangleFrameTable& table = h.tex().frameTable;
    ASSERT_EQ(table.size(), 2 * kSide * kSide);

    TriangleFrameTable single;
    ASSERT_TRUE(single.build(h.tex().polyMesh, nullptr, h.tex().faces, h.tex().numFaceIndices, table.size(), 1));
    EXPECT_EQ(std::memcmp(single.entries(), table.entries(), sizeof(FaceMap) * size_t(table.size())), 0);

    // Four render threads read the table at once.
    std::vector<std::thread> threads;
    threads.reserve(4);
    std::vector<int> white(4, 0);
    for (int thread = 0; thread < 4; ++thread)
        threads.emplace_back([&, thread] {
            for (int t = thread; t < table.size(); t += 997) {
                ShadingContext c = h.contextAtWeights(t, 0.25f, 0.25f, thread);
                const Color color = h.eval(c);
                if (color.r == 1 && color.g == 1 && color.b == 1 && color.a == 1) ++white[size_t(thread)];
            }
        });
    for (std::thread& t : threads) t.join();
    for (int thread = 0; thread < 4; ++thread) EXPECT_EQ(white[size_t(thread)], 0) << thread;
    h.end();
}
