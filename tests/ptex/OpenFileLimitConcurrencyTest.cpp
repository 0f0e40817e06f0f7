// Render threads reading many textures of many caches through a budget of three descriptors:
// handles are closed and opened again under the threads' feet, and every answer is still the
// file's (also under ThreadSanitizer).
#include <Ptexture.h>

#include "PtexOpenFiles.h"
#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTextures = 24, kThreads = 4, kBudget = 3;

tarsk::test::TextureLayout layoutFor(int seed)
{
    tarsk::test::TextureLayout layout;
    layout.dataType = Ptex::dt_uint8;
    layout.numChannels = 1;
    layout.faces = tarsk::test::quadGrid(6, 6, Ptex::Res(2, 2));
    layout.texel = [seed](int f, int u, int v, int) { return float((seed * 29 + f * 7 + u * 5 + v) % 253) / 255.f; };
    return layout;
}

TEST(OpenFileLimitConcurrency, ThreadsReadManyTexturesThroughAFewDescriptors)
{
    const std::string dir = tarsk::test::scratchDir() + "/OpenFileLimitConcurrency";
    std::filesystem::create_directories(dir);
    Ptex::OpenFileGroup::setProcessBudget(kBudget);
    std::vector<PtexCache*> caches;
    std::vector<PtexTexture*> textures;
    std::vector<std::vector<std::vector<unsigned char>>> expected(kTextures);
    for (int t = 0; t < kTextures; ++t) {
        const std::string path = dir + "/t" + std::to_string(t) + ".ptx";
        std::string error;
        ASSERT_TRUE(tarsk::test::writeTexture(path, layoutFor(t), error)) << error;
        for (int f = 0; f < 36; ++f) expected[size_t(t)].push_back(tarsk::test::makeFaceTexels(layoutFor(t), f));
        // A limit below what the texture keeps for good: faces are evicted and read again.
        caches.push_back(PtexCache::create(1, 1));
        Ptex::String openError;
        textures.push_back(caches.back()->get(path.c_str(), openError));
        ASSERT_NE(textures.back(), nullptr) << openError;
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            std::mt19937 random(unsigned(1000 + i));
            for (int n = 0; n < 3000; ++n) {
                const int t = int(random() % kTextures), f = int(random() % 36);
                const int u = int(random() % 4), v = int(random() % 4);
                PtexFaceData* data = textures[size_t(t)]->getData(f);
                unsigned char texel = 0xcd;
                data->getPixel(u, v, &texel);
                data->release();
                if (texel != expected[size_t(t)][size_t(f)][size_t(v * 4 + u)]) ++mismatches;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_LE(Ptex::OpenFileGroup::processFilesOpen(), uint64_t(kBudget));
    for (int t = 0; t < kTextures; ++t) {
        textures[size_t(t)]->release();
        caches[size_t(t)]->release();
    }
    EXPECT_EQ(Ptex::OpenFileGroup::processFilesOpen(), 0u);
    Ptex::OpenFileGroup::setProcessBudget(0);
}

}  // namespace
