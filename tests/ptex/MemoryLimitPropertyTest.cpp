// Random access through caches of several sizes on a file far larger than them: after every
// request the cache's memUsed is at or under its limit, or, for a limit below what a texture
// keeps for its whole life, under that floor plus what one request needs; and every answer is
// bit for bit the answer of a cache without limit.
#include <Ptexture.h>

#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kGrid = 24;       // 24 x 24 faces of 8 x 8 texels
constexpr int kLargeFaces = 4;  // and four of 256 x 256, stored in tiles
constexpr int kChannels = 3;

std::string writeFile()
{
    std::filesystem::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/MemoryLimitProperty.ptx";
    tarsk::test::TextureLayout layout;
    layout.dataType = Ptex::dt_uint8;
    layout.numChannels = kChannels;
    layout.faces = tarsk::test::quadGrid(kGrid, kGrid, Ptex::Res(3, 3));
    for (int f = 0; f < kLargeFaces; ++f) layout.faces[size_t(f * 97)].res = Ptex::Res(8, 8);
    layout.texel = [](int f, int u, int v, int c) {
        return 0.5f + 0.5f * std::sin(float(f * 13 + u * (c + 2)) * 0.37f + float(v * (3 - c)) * 0.21f);
    };
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, layout, error)) << error;
    return path;
}

struct Request {
    int kind;
    int face;
    float u, v, width;
    int res;
};

// One request's answer, as bytes to compare.
std::vector<float> answer(PtexTexture* texture, PtexFilter* bilinear, PtexFilter* bicubic, const Request& r)
{
    std::vector<float> out(kChannels, -1.f);
    const Ptex::Res full = texture->getFaceInfo(r.face).res;
    const Ptex::Res res(int8_t(std::max(0, full.ulog2 - r.res)), int8_t(std::max(0, full.vlog2 - r.res % 2)));
    switch (r.kind) {
    case 0: bilinear->eval(out.data(), 0, kChannels, r.face, r.u, r.v, r.width, 0, 0, r.width); break;
    case 1: bicubic->eval(out.data(), 0, kChannels, r.face, r.u, r.v, r.width, 0, 0, r.width * 0.5f); break;
    case 2: {
        PtexPtr<PtexFaceData> data(texture->getData(r.face, res));
        uint8_t texel[kChannels] = {};
        data->getPixel(int(r.u * float(res.u())), int(r.v * float(res.v())), texel);
        for (int c = 0; c < kChannels; ++c) out[size_t(c)] = float(texel[c]);
        break;
    }
    default:
        texture->getPixel(r.face, int(r.u * float(full.u())), int(r.v * float(full.v())), out.data(), 0, kChannels);
        break;
    }
    return out;
}

TEST(MemoryLimitProperty, RandomAccessStaysUnderTheLimitAndAnswersAsWithoutOne)
{
    const std::string path = writeFile();
    std::mt19937 random(20240611);
    std::vector<Request> requests(4000);
    for (Request& r : requests) {
        r.kind = int(random() % 4);
        r.face = int(random() % (kGrid * kGrid));
        r.u = float(random() % 1000) / 1000.f;
        r.v = float(random() % 1000) / 1000.f;
        r.width = 0.01f * float(1 + random() % 60);
        r.res = int(random() % 4);
    }

    Ptex::String error;
    PtexPtr<PtexCache> unlimited(PtexCache::create(0, 0));
    PtexPtr<PtexTexture> reference(unlimited->get(path.c_str(), error));
    ASSERT_TRUE(reference) << error;
    PtexPtr<PtexFilter> refBilinear(PtexFilter::getFilter(reference, PtexFilter::Options(PtexFilter::f_bilinear)));
    PtexPtr<PtexFilter> refBicubic(PtexFilter::getFilter(reference, PtexFilter::Options(PtexFilter::f_bicubic)));
    std::vector<std::vector<float>> expected;
    for (const Request& r : requests) expected.push_back(answer(reference, refBilinear, refBicubic, r));

    // 1 byte is below the floor: the texture still answers, keeping only what requests need.
    // 192 KiB holds the floor and one of the large faces' tiles.
    for (size_t limit : {size_t(1), size_t(192 * 1024), size_t(512 * 1024), size_t(2048 * 1024)}) {
        SCOPED_TRACE(limit);
        PtexPtr<PtexCache> cache(PtexCache::create(0, limit));
        PtexPtr<PtexTexture> texture(cache->get(path.c_str(), error));
        ASSERT_TRUE(texture) << error;
        PtexPtr<PtexFilter> bilinear(PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_bilinear)));
        PtexPtr<PtexFilter> bicubic(PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_bicubic)));
        PtexCache::Stats stats;
        cache->getStats(stats);
        // The documented floor: what open keeps, plus per stored level a byte and a bit per face
        // (page pointers, reload marks) and the block table. One request needs at most a few
        // of the large faces' 96 KiB tiles and their reductions.
        const uint64_t floor = stats.memUsed + 2 * (kGrid * kGrid) * 2 + 16 * 1024;
        const uint64_t tile = 96 * 1024, request = 6 * tile;
        uint64_t peak = 0;
        for (size_t i = 0; i < requests.size(); ++i) {
            const std::vector<float> got = answer(texture, bilinear, bicubic, requests[i]);
            ASSERT_EQ(memcmp(got.data(), expected[i].data(), sizeof(float) * kChannels), 0) << "request " << i;
            cache->getStats(stats);
            peak = std::max(peak, stats.memUsed);
            if (limit > floor + tile)
                ASSERT_LE(stats.memUsed, limit) << "request " << i;
            else
                ASSERT_LE(stats.memUsed, floor + request) << "request " << i;
        }
        EXPECT_GT(peak, std::min<uint64_t>(limit, floor)) << "the cache was used";
        EXPECT_GT(stats.blockReads, 0u);
    }
}

}  // namespace
