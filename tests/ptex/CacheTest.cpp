// PtexCache: keys and the search path, input handlers, purging (also of held textures), failed
// paths, the open-file limit with transparent reopening, and the memory limit enforced while a
// texture stays held, with handles keeping their data alive.
#include <Ptexture.h>

#include "PtexInputHandlers.h"
#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tarsk::test::TextureLayout;

std::string cacheDir()
{
    std::string dir = tarsk::test::scratchDir() + "/Cache";
    fs::create_directories(dir + "/a");
    fs::create_directories(dir + "/b");
    return dir;
}

// A float texture whose every texel holds `value + face`, faces of `res`.
void writeValued(const std::string& path, float value, int nfaces = 2, Ptex::Res res = Ptex::Res(3, 3))
{
    TextureLayout texDesc;
    texDesc.numChannels = 1;
    texDesc.faces = tarsk::test::quadGrid(nfaces, 1, res);
    texDesc.texel = [value](int f, int u, int v, int) { return value + float(f) + float(u * 3 + v) * 1e-3f; };
    std::string error;
    ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
}

float texel(PtexTexture* tx, int face = 0)
{
    float value = -1;
    tx->getPixel(face, 0, 0, &value, 0, 1);
    return value;
}

TEST(Cache, KeysAndSearchPath)
{
    const std::string dir = cacheDir();
    writeValued(dir + "/a/tex.ptx", 1.f);
    writeValued(dir + "/b/tex.ptx", 2.f);
    writeValued(dir + "/b/onlyb.ptx", 3.f);
    PtexPtr<PtexCache> cache(PtexCache::create(0, 0));
    EXPECT_STREQ(cache->getSearchPath(), "");
    const std::string searchPath = dir + "/a::" + dir + "/b:";
    cache->setSearchPath(searchPath.c_str());
    EXPECT_EQ(cache->getSearchPath(), searchPath);

    Ptex::String error;
    PtexTexture* first = cache->get("tex.ptx", error);
    ASSERT_NE(first, nullptr) << error;
    EXPECT_EQ(std::string(first->path()), dir + "/a/tex.ptx") << "directories are tried in order";
    EXPECT_EQ(texel(first), 1.f);
    PtexTexture* again = cache->get("tex.ptx", error);
    EXPECT_EQ(again, first);
    PtexTexture* dotted = cache->get("./tex.ptx", error);
    ASSERT_NE(dotted, nullptr);
    EXPECT_NE(dotted, first) << "the key is the literal string";
    EXPECT_EQ(std::string(dotted->path()), dir + "/a/./tex.ptx");
    PtexTexture* onlyB = cache->get("onlyb.ptx", error);
    ASSERT_NE(onlyB, nullptr);
    EXPECT_EQ(texel(onlyB), 3.f);
    PtexTexture* absolute = cache->get((dir + "/b/tex.ptx").c_str(), error);
    ASSERT_NE(absolute, nullptr);
    EXPECT_EQ(texel(absolute), 2.f);
    for (PtexTexture* t : {first, again, dotted, onlyB, absolute}) t->release();

    Ptex::String missing;
    EXPECT_EQ(cache->get("nowhere.ptx", missing), nullptr);
    EXPECT_EQ(missing, "Can't find ptex file: nowhere.ptx");

    cache->setSearchPath(nullptr);
    EXPECT_STREQ(cache->getSearchPath(), "");
    PtexCache::Stats stats;
    cache->getStats(stats);
    EXPECT_EQ(stats.filesAccessed, 5u);
}

TEST(Cache, InputHandlerBypassesTheSearchPath)
{
    const std::string dir = cacheDir();
    writeValued(dir + "/memory.ptx", 5.f);
    std::ifstream in(dir + "/memory.ptx", std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Ptex::MemoryInputHandler memory(bytes.data(), bytes.size());
    PtexPtr<PtexCache> cache(PtexCache::create(0, 0, false, &memory));
    cache->setSearchPath("/nonexistent");
    Ptex::String error;
    PtexPtr<PtexTexture> tx(cache->get("any-name", error));
    ASSERT_TRUE(tx) << error;
    EXPECT_STREQ(tx->path(), "any-name");
    EXPECT_EQ(texel(tx), 5.f);
}

// An application's handler that cannot tell file sizes; counts its open handles.
class CountingStdioHandler : public PtexInputHandler {
public:
    Handle open(const char* path) override
    {
        FILE* f = fopen(path, "rb");
        if (f) ++openHandles;
        return f;
    }
    void seek(Handle handle, int64_t pos) override { fseeko(static_cast<FILE*>(handle), pos, SEEK_SET); }
    size_t read(void* buffer, size_t size, Handle handle) override
    {
        return fread(buffer, 1, size, static_cast<FILE*>(handle));
    }
    bool close(Handle handle) override
    {
        --openHandles;
        return fclose(static_cast<FILE*>(handle)) == 0;
    }
    const char* lastError() override { return "cannot open"; }
    int openHandles = 0;
};

TEST(Cache, ApplicationHandlerWithoutFileSizes)
{
    const std::string dir = cacheDir();
    writeValued(dir + "/handler.ptx", 6.f, 3);
    {
        std::ifstream in(dir + "/handler.ptx", std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(dir + "/handler-cut.ptx", std::ios::binary);
        out.write(bytes.data(), std::streamsize(bytes.size() - 10));
    }
    CountingStdioHandler handler;
    {
        PtexPtr<PtexCache> cache(PtexCache::create(0, 0, false, &handler));
        Ptex::String error;
        PtexTexture* tx = cache->get((dir + "/handler.ptx").c_str(), error);
        ASSERT_NE(tx, nullptr) << error;
        EXPECT_EQ(texel(tx, 2), 8.f);
        tx->release();
        EXPECT_EQ(handler.openHandles, 1) << "releasing a cached texture keeps its handle";
        EXPECT_EQ(cache->get((dir + "/handler-cut.ptx").c_str(), error), nullptr);
        EXPECT_EQ(error.rfind("PtexReader error: ", 0), 0u) << error;
        Ptex::String missing;
        EXPECT_EQ(cache->get((dir + "/none.ptx").c_str(), missing), nullptr);
        EXPECT_EQ(missing, "Can't open ptex file: " + dir + "/none.ptx\ncannot open");
    }
    EXPECT_EQ(handler.openHandles, 0) << "releasing the cache closes every handle";
}

TEST(Cache, PurgeWaitsForHoldersAndThenReopens)
{
    const std::string path = cacheDir() + "/purged.ptx";
    writeValued(path, 1.f);
    PtexPtr<PtexCache> cache(PtexCache::create(0, 0));
    Ptex::String error;
    PtexTexture* held = cache->get(path.c_str(), error);
    ASSERT_NE(held, nullptr) << error;
    EXPECT_EQ(texel(held), 1.f);
    writeValued(path, 7.f);

    // Purge while held (as the only holder): the texture keeps working until released.
    cache->purge(held);
    EXPECT_EQ(texel(held, 1), 2.f);
    PtexTexture* second = cache->get(path.c_str(), error);
    EXPECT_EQ(second, held) << "a pending purge waits for the holders";
    cache->purgeAll();
    EXPECT_EQ(texel(second), 1.f);
    second->release();
    held->release();

    PtexTexture* fresh = cache->get(path.c_str(), error);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(texel(fresh), 7.f) << "reopened after the last holder let go";
    fresh->release();
    cache->purge(path.c_str());
    writeValued(path, 9.f);
    fresh = cache->get(path.c_str(), error);
    EXPECT_EQ(texel(fresh), 9.f);
    fresh->release();
}

TEST(Cache, FailedPathsStayFailedUntilPurged)
{
    const std::string path = cacheDir() + "/later.ptx";
    fs::remove(path);
    PtexPtr<PtexCache> cache(PtexCache::create(0, 0));
    Ptex::String error;
    EXPECT_EQ(cache->get(path.c_str(), error), nullptr);
    EXPECT_EQ(error.rfind("Can't open ptex file: " + path + "\n", 0), 0u) << error;
    writeValued(path, 4.f);
    Ptex::String second = "unchanged";
    EXPECT_EQ(cache->get(path.c_str(), second), nullptr);
    EXPECT_EQ(second, "unchanged");
    cache->purge(path.c_str());
    PtexTexture* tx = cache->get(path.c_str(), second);
    ASSERT_NE(tx, nullptr) << second;
    EXPECT_EQ(texel(tx), 4.f);
    tx->release();
}

TEST(Cache, FileHandlesAreLimitedAndReopenedTransparently)
{
    const std::string dir = cacheDir();
    const int count = 24;
    for (int i = 0; i < count; ++i) writeValued(dir + "/many" + std::to_string(i) + ".ptx", float(i), 4);
    PtexPtr<PtexCache> cache(PtexCache::create(3, 0));
    Ptex::String error;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < count; ++i) {
            PtexTexture* tx = cache->get((dir + "/many" + std::to_string(i) + ".ptx").c_str(), error);
            ASSERT_NE(tx, nullptr) << error;
            // Each pass reads faces the previous pass did not, so closed handles must reopen.
            EXPECT_EQ(texel(tx, pass * 2), float(i + pass * 2));
            EXPECT_EQ(texel(tx, pass * 2 + 1), float(i + pass * 2 + 1));
            tx->release();
        }
    }
    PtexCache::Stats stats;
    cache->getStats(stats);
    EXPECT_LE(stats.filesOpen, 3u);
    EXPECT_GT(stats.fileReopens, 0u);
    EXPECT_EQ(stats.filesAccessed, uint64_t(count));
    EXPECT_GT(stats.blockReads, 0u);
}

TEST(Cache, MemoryStaysBoundedWhileTheTextureIsHeld)
{
    const std::string path = cacheDir() + "/bounded.ptx";
    const int nfaces = 64;
    writeValued(path, 0.f, nfaces, Ptex::Res(6, 6));  // 16 KiB of texels per face
    const size_t maxMem = 128 * 1024;
    PtexPtr<PtexCache> cache(PtexCache::create(0, maxMem));
    Ptex::String error;
    PtexPtr<PtexTexture> tx(cache->get(path.c_str(), error));
    ASSERT_TRUE(tx) << error;
    PtexCache::Stats base;
    cache->getStats(base);

    // A handle held throughout keeps its data valid while everything else is evicted.
    PtexPtr<PtexFaceData> pinned(tx->getData(0));
    const float* pinnedTexels = static_cast<const float*>(pinned->getData());
    const float firstValue = pinnedTexels[64 * 64 - 1];
    std::vector<float> first(64 * 64), again(64 * 64);
    for (int round = 0; round < 2; ++round) {
        for (int f = 0; f < nfaces; ++f) {
            tx->getData(f, round ? again.data() : first.data(), 0);
            if (f == 5 && round == 0) tx->getData(5, first.data(), 0);
            PtexPtr<PtexFaceData> reduced(tx->getData(f, Ptex::Res(4, 5)));
            PtexCache::Stats stats;
            cache->getStats(stats);
            EXPECT_LE(stats.memUsed, base.memUsed + maxMem + 40 * 1024) << "face " << f;
        }
        if (round == 1) {
            tx->getData(5, again.data(), 0);
            tx->getData(5, first.data(), 0);
        }
    }
    std::vector<float> reread(64 * 64);
    tx->getData(5, reread.data(), 0);
    EXPECT_EQ(reread, first) << "data reloaded after eviction are identical";
    EXPECT_EQ(pinnedTexels[64 * 64 - 1], firstValue);
    EXPECT_EQ(static_cast<const float*>(pinned->getData()), pinnedTexels);
    PtexCache::Stats stats;
    cache->getStats(stats);
    EXPECT_GE(stats.peakMemUsed, stats.memUsed);
}

}  // namespace
