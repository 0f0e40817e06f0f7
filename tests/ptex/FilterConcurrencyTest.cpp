// One filter per thread over one shared texture (through a shared cache, also with a memory
// limit small enough to evict data while filters read): results equal a single-threaded run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "TestData.h"
#include "TextureMaker.h"

namespace {

using FT = PtexFilter::FilterType;

struct Query {
    int face;
    float u, v, uw1, vw1, uw2, vw2;
};

std::vector<Query> makeQueries(int numFaces, int count)
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> face(0, numFaces - 1), expo(1, 7);
    std::uniform_real_distribution<float> pos(0.0f, 1.0f), shear(-0.3f, 0.3f);
    std::vector<Query> queries;
    for (int i = 0; i < count; i++) {
        const float uw = std::ldexp(1.0f, -expo(rng)), vw = std::ldexp(1.0f, -expo(rng));
        queries.push_back({face(rng), pos(rng), pos(rng), uw, shear(rng) * vw, shear(rng) * uw, vw});
    }
    return queries;
}

// Evaluates queries first, first + stride, ... with every filter type; 3 results per query and type.
void evaluate(PtexTexture* tx, const std::vector<Query>& queries, size_t first, size_t stride, std::vector<float>& out)
{
    for (int type = 0; type <= 7; type++) {
        PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, PtexFilter::Options(FT(type), type % 2 == 1, 0.3f)));
        for (size_t i = first; i < queries.size(); i += stride) {
            const Query& q = queries[i];
            float* r = &out[(size_t(type) * queries.size() + i) * 3];
            filter->eval(r, 0, 3, q.face, q.u, q.v, q.uw1, q.vw1, q.uw2, q.vw2);
        }
    }
}

void checkThreadsAgree(const std::string& path, size_t maxMem, size_t threads = 4, int count = 600)
{
    Ptex::String error;
    PtexPtr<PtexCache> cache(PtexCache::create(4, maxMem));
    PtexPtr<PtexTexture> tx(cache->get(path.c_str(), error));
    ASSERT_TRUE(tx) << error;
    const std::vector<Query> queries = makeQueries(tx->numFaces(), count);
    std::vector<float> single(queries.size() * 8 * 3, -7.0f), threaded(single.size(), -7.0f);
    evaluate(tx.get(), queries, 0, 1, single);

    // Other textures of the cache are dropped meanwhile, so that limited memory forces reloads.
    if (maxMem) cache->purgeAll();
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; t++)
        workers.emplace_back(evaluate, tx.get(), std::cref(queries), t, threads, std::ref(threaded));
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(std::memcmp(single.data(), threaded.data(), single.size() * sizeof(float)), 0);
    for (size_t i = 0; i < single.size(); i++)
        if (std::memcmp(&single[i], &threaded[i], sizeof(float)) != 0) {
            ADD_FAILURE() << "result " << i << " differs: " << single[i] << " vs " << threaded[i];
            break;
        }
    if (!maxMem) return;
    // Texels evicted while filters read them are freed once the filters are done: another
    // round of loading brings the total back to the limit.
    evaluate(tx.get(), queries, 0, 1, single);
    PtexCache::Stats stats;
    cache->getStats(stats);
    EXPECT_LE(stats.memUsed, maxMem + maxMem / 2);
}

std::string writeGrid(const std::string& name, Ptex::MeshType mesh, int log2 = 0)
{
    namespace fs = std::filesystem;
    fs::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/" + name;
    tarsk::test::TextureLayout texDesc;
    texDesc.meshType = mesh;
    texDesc.dataType = Ptex::dt_uint8;
    texDesc.numChannels = 3;
    const Ptex::Res quadRes = log2 ? Ptex::Res(int8_t(log2), int8_t(log2)) : Ptex::Res(6, 5);
    texDesc.faces =
        mesh == Ptex::mt_quad ? tarsk::test::quadGrid(4, 4, quadRes) : tarsk::test::triangleGrid(3, 3, log2 ? log2 : 5);
    texDesc.texel = [](int f, int u, int v, int c) {
        return 0.5f + 0.5f * std::sin(float(f * 7 + u * (c + 1)) * 0.21f + float(v) * 0.13f);
    };
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    return path;
}

}  // namespace

TEST(FilterConcurrency, ThreadsSharingOneTextureAgreeWithOneThread)
{
    const std::string quads = writeGrid("filter-concurrency-quads.ptx", Ptex::mt_quad);
    const std::string tris = writeGrid("filter-concurrency-tris.ptx", Ptex::mt_triangle);
    for (size_t maxMem : {size_t(0), size_t(64 * 1024)}) {
        SCOPED_TRACE(maxMem);
        checkThreadsAgree(quads, maxMem);
        checkThreadsAgree(tris, maxMem);
    }
}

// Tiled faces (256 x 256 texels, 3 channels, in tiles) through a cache far smaller than the
// texture: filters on several threads keep reading tiles that the others' loads evict.
TEST(FilterConcurrency, FiltersReadTilesThatOtherThreadsEvict)
{
    const std::string quads = writeGrid("filter-concurrency-tiled-quads.ptx", Ptex::mt_quad, 8);
    const std::string tris = writeGrid("filter-concurrency-tiled-tris.ptx", Ptex::mt_triangle, 8);
    for (size_t maxMem : {size_t(256 * 1024)}) {
        SCOPED_TRACE(maxMem);
        checkThreadsAgree(quads, maxMem, 3, 200);
        checkThreadsAgree(tris, maxMem, 3, 200);
    }
}
