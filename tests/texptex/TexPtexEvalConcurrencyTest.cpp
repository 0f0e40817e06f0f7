// Several render threads evaluating one instance at once, each with its own thread index and
// cache slots, must give exactly the colours of a single-threaded run.
#include "TexPtexHarness.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace texptex_test;
using TUtils::ShadingContext;

namespace {

// Every thread evaluates the same points twice (the second pass from the result cache); the
// colours must equal a single-threaded run's. cacheSizeMb 0 keeps the default cache size.
void checkThreadsAgree(const std::string& path, int cacheSizeMb, const std::vector<int>& threadCounts)
{
    const MeshLists lists = fanMesh({{0, 0, 0}, {4, 0, 0}, {5, 3, 0}, {2, 5, 0}, {-1, 2, 0}, {0, -3, 0}, {4, -3, 0}},
                                    {{5, 6, 1, 0}, {0, 1, 2, 3, 4}});
    const int numPoints = 400;
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> unit(0.0f, 0.5f);
    struct Point {
        int t;
        float wA, wB;
    };
    std::vector<Point> points;
    for (int i = 0; i < numPoints; ++i) points.push_back({i % 5, unit(rng), unit(rng)});

    for (int filterType : {0, 1}) {
        std::vector<Color> expected;
        {
            Harness single(1);
            single.setString("ptex_file", path.c_str());
            single.setInt("filter_type", filterType);
            if (cacheSizeMb) single.setInt("cache_size", cacheSizeMb);
            single.setMesh(lists);
            single.begin();
            for (const Point& p : points) {
                ShadingContext c = single.contextAtWeights(p.t, p.wA, p.wB);
                c.dPdx = {0.05f, 0, 0};
                c.dPdy = {0, 0.05f, 0};
                expected.push_back(single.eval(c));
            }
            single.end();
        }
        for (int numThreads : threadCounts) {
            Harness h(numThreads);
            h.setString("ptex_file", path.c_str());
            h.setInt("filter_type", filterType);
            if (cacheSizeMb) h.setInt("cache_size", cacheSizeMb);
            h.setMesh(lists);
            h.begin();
            ASSERT_TRUE(h.tex().ready);
            std::vector<std::vector<Color>> results(static_cast<size_t>(numThreads));
            // Contexts are made before the threads start: the harness is not itself thread safe.
            std::vector<std::vector<ShadingContext>> contexts(static_cast<size_t>(numThreads));
            for (int thread = 0; thread < numThreads; ++thread) {
                for (int pass = 0; pass < 2; ++pass) {  // the second pass is answered by the cache
                    for (int i = 0; i < numPoints; ++i) {
                        ShadingContext c = h.contextAtWeights(points[i].t, points[i].wA, points[i].wB, thread);
                        c.dPdx = {0.05f, 0, 0};
                        c.dPdy = {0, 0.05f, 0};
                        c.cacheSlot = i;
                        c.cacheKey = static_cast<uint32_t>(i + 1);
                        contexts[thread].push_back(c);
                    }
                }
            }
            std::vector<std::thread> workers;
            for (int thread = 0; thread < numThreads; ++thread) {
                workers.emplace_back([&, thread] {
                    for (ShadingContext& c : contexts[thread]) results[thread].push_back(h.tex().evalColor(c));
                });
            }
            for (auto& worker : workers) worker.join();
            for (int thread = 0; thread < numThreads; ++thread) {
                ASSERT_EQ(results[thread].size(), 2u * numPoints);
                for (int i = 0; i < 2 * numPoints; ++i)
                    ASSERT_EQ(results[thread][i], expected[i % numPoints])
                        << "filter " << filterType << ", " << numThreads << " threads, thread " << thread << ", point "
                        << i;
            }
            h.end();
        }
    }
}

}  // namespace

TEST(TexPtexEvalConcurrency, ThreadsAgreeWithASingleThreadedRun)
{
    checkThreadsAgree(writeIdTexture("concurrency.ptx", true, 6, 5, {false, true, true, true, true, true}), 0, {2, 8});
}

// 6 faces of 128 x 128 float texels (1.1 MB) through the smallest cache (1 MB): threads keep
// reading tiles that the others' loads evict.
TEST(TexPtexEvalConcurrency, ThreadsAgreeWhileTheCacheEvicts)
{
    checkThreadsAgree(writeIdTexture("concurrency-large.ptx", true, 6, 7, {false, true, true, true, true, true}), 1,
                      {4});
}
