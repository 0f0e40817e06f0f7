// Many threads getting, reading and releasing the faces, tiles and reductions of shared
// textures through a cache whose memory limit is far below the data read, so that data are
// evicted and reloaded all the time; every value read is checked against a single-threaded
// read of the same file. Runs under ThreadSanitizer (label concurrency).
#include <Ptexture.h>

#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Expected {
    std::map<std::pair<int, uint16_t>, std::vector<float>> levels;  // (face, res) -> texels
};

std::string writeSharedTexture()
{
    fs::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/Concurrency.ptx";
    tarsk::test::TextureLayout texDesc;
    texDesc.numChannels = 1;
    texDesc.faces = tarsk::test::quadGrid(6, 2, Ptex::Res(5, 5));
    texDesc.faces[3].res = Ptex::Res(9, 8);  // stored in 64 KiB tiles
    texDesc.faces[7].res = Ptex::Res(6, 2);
    // Texels name their own face and position exactly.
    texDesc.texel = [](int f, int u, int v, int) { return float(f * 1000000 + v * 1024 + u); };
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    return path;
}

std::vector<Ptex::Res> resolutionsOf(Ptex::Res res)
{
    std::vector<Ptex::Res> list;
    for (int du = 0; du <= 2 && du <= res.ulog2; ++du)
        for (int dv = 0; dv <= 2 && dv <= res.vlog2; ++dv)
            list.push_back(Ptex::Res(int8_t(res.ulog2 - du), int8_t(res.vlog2 - dv)));
    return list;
}

TEST(CacheConcurrency, ReadersAgreeWithASingleThreadedReadUnderConstantEviction)
{
    const std::string path = writeSharedTexture();
    Expected expected;
    int nfaces = 0;
    {
        Ptex::String error;
        PtexPtr<PtexTexture> tx(PtexTexture::open(path.c_str(), error));
        ASSERT_TRUE(tx) << error;
        nfaces = tx->numFaces();
        for (int f = 0; f < nfaces; ++f) {
            for (Ptex::Res r : resolutionsOf(tx->getFaceInfo(f).res)) {
                std::vector<float>& texels = expected.levels[{f, r.val()}];
                texels.resize(size_t(r.size()));
                tx->getData(f, texels.data(), 0, r);
            }
        }
    }

    PtexPtr<PtexCache> cache(PtexCache::create(2, 48 * 1024));
    std::atomic<int> failures{0};
    auto worker = [&](unsigned seed) {
        std::mt19937 random(seed);
        std::vector<float> buffer;
        for (int i = 0; i < 400 && failures.load() < 5; ++i) {
            Ptex::String error;
            PtexTexture* tx = cache->get(path.c_str(), error);
            if (!tx) {
                ++failures;
                return;
            }
            const int f = int(random() % unsigned(nfaces));
            const std::vector<Ptex::Res> resList = resolutionsOf(tx->getFaceInfo(f).res);
            const Ptex::Res r = resList[random() % resList.size()];
            const std::vector<float>& want = expected.levels[{f, r.val()}];
            switch (random() % 3) {
            case 0: {
                buffer.assign(want.size(), -1.f);
                tx->getData(f, buffer.data(), 0, r);
                if (buffer != want) ++failures;
                break;
            }
            case 1: {
                const int u = int(random() % unsigned(r.u())), v = int(random() % unsigned(r.v()));
                float value = -1;
                tx->getPixel(f, u, v, &value, 0, 1, r);
                if (value != want[size_t(v) * r.u() + u]) ++failures;
                break;
            }
            default: {
                PtexFaceData* data = tx->getData(f, r);
                const int u = int(random() % unsigned(r.u())), v = int(random() % unsigned(r.v()));
                float value = -1;
                if (data->isTiled()) {
                    const Ptex::Res tr = data->tileRes();
                    PtexFaceData* tile = data->getTile((v >> tr.vlog2) * r.ntilesu(tr) + (u >> tr.ulog2));
                    tile->getPixel(u & (tr.u() - 1), v & (tr.v() - 1), &value);
                    std::this_thread::yield();  // let others evict around the held tile
                    float again = -2;
                    tile->getPixel(u & (tr.u() - 1), v & (tr.v() - 1), &again);
                    if (again != value) ++failures;
                    tile->release();
                } else {
                    data->getPixel(u, v, &value);
                }
                if (value != want[size_t(v) * r.u() + u]) ++failures;
                data->release();
            }
            }
            tx->release();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 4; ++t) threads.emplace_back(worker, 1000 + t);
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);

    PtexCache::Stats stats;
    cache->getStats(stats);
    EXPECT_LT(stats.memUsed, 48u * 1024 + 200 * 1024) << "eviction kept pace with the readers";
}

}  // namespace
