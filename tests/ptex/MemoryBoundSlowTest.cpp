// A texture of more than 200 MB of decoded texels read face by face through a cache whose
// memory limit is 16 MB, with the texture held all the time: the cache's memory total and the
// process's resident set stay within a small margin of the limit, and the data are right.
#include <Ptexture.h>

#include "TestData.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFaces = 13;
constexpr int kLog2 = 10;  // 1024 x 1024 texels of 4 floats: 16 MiB per face
constexpr int kChannels = 4;
constexpr size_t kMaxMem = 16u << 20;

float texelValue(int face, int u, int v, int c) { return float(face) + float(u) / 1024.f + float(v * 4 + c) * 1e-6f; }

uint64_t residentBytes()
{
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    if (fscanf(f, "%lu %lu", &size, &resident) != 2) resident = 0;
    fclose(f);
    return uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
}

std::string writeLargeTexture()
{
    fs::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/MemoryBound.ptx";
    Ptex::String error;
    PtexPtr<PtexWriter> writer(
        PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_float, kChannels, -1, kFaces, error, false));
    EXPECT_TRUE(writer) << error;
    if (!writer) return path;
    const int n = 1 << kLog2;
    std::vector<float> texels(size_t(n) * n * kChannels);
    for (int f = 0; f < kFaces; ++f) {
        for (int v = 0; v < n; ++v)
            for (int u = 0; u < n; ++u)
                for (int c = 0; c < kChannels; ++c)
                    texels[(size_t(v) * n + u) * kChannels + c] = texelValue(f, u, v, c);
        EXPECT_TRUE(writer->writeFace(f, Ptex::FaceInfo(Ptex::Res(kLog2, kLog2)), texels.data()));
    }
    EXPECT_TRUE(writer->close(error)) << error;
    return path;
}

TEST(MemoryBound, HeldTextureStaysWithinTheLimit)
{
    const std::string path = writeLargeTexture();
    const int n = 1 << kLog2;
    std::vector<float> buffer(size_t(n) * n * kChannels);
    buffer.assign(buffer.size(), 0.f);  // touch the caller's buffer before measuring

    PtexPtr<PtexCache> cache(PtexCache::create(0, kMaxMem));
    Ptex::String error;
    PtexPtr<PtexTexture> tx(cache->get(path.c_str(), error));
    ASSERT_TRUE(tx) << error;
    const uint64_t residentBefore = residentBytes();
    uint64_t decoded = 0, peakResidentGrowth = 0, peakMemUsed = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (int f = 0; f < kFaces; ++f) {
            if (pass == 0) {
                tx->getData(f, buffer.data(), 0);
            } else {
                // Through handles, tile by tile, each released at once.
                PtexPtr<PtexFaceData> face(tx->getData(f));
                ASSERT_TRUE(face->isTiled());
                const int ntiles = face->res().ntiles(face->tileRes());
                for (int t = 0; t < ntiles; ++t) {
                    PtexPtr<PtexFaceData> tile(face->getTile(t));
                    ASSERT_FALSE(tile->isConstant());
                }
            }
            decoded += uint64_t(n) * n * kChannels * sizeof(float);
            PtexCache::Stats stats;
            cache->getStats(stats);
            peakMemUsed = std::max<uint64_t>(peakMemUsed, stats.memUsed);
            EXPECT_LE(stats.memUsed, kMaxMem + (1u << 20)) << "face " << f;
            const uint64_t now = residentBytes();
            if (now > residentBefore) peakResidentGrowth = std::max(peakResidentGrowth, now - residentBefore);
            if (pass == 0) {
                const int u = (f * 97) % n, v = (f * 389) % n;
                EXPECT_EQ(buffer[(size_t(v) * n + u) * kChannels + 2], texelValue(f, u, v, 2)) << "face " << f;
            }
        }
    }
    EXPECT_GE(decoded / 2, 200u << 20);
    EXPECT_GE(peakMemUsed, kMaxMem / 2) << "the cache was actually used";
    // Without eviction the held texture would keep all 208 MB resident.
    EXPECT_LE(peakResidentGrowth, kMaxMem + (24u << 20))
        << "resident set grew by " << (peakResidentGrowth >> 20) << " MB";
    float pixel[kChannels];
    tx->getPixel(3, 1000, 20, pixel, 0, kChannels);
    EXPECT_EQ(pixel[1], texelValue(3, 1000, 20, 1));
}

}  // namespace
