// Open file handles under the process-wide budget: many textures of many caches read through
// far fewer descriptors and answer as if every file stayed open; a file rewritten or removed
// while its handle was closed fails its next read with the library's reopen texts and zeros
// (never the new file's data, nor data of both); FIFOs and devices are refused at open without
// blocking, directories fail as files that are not Ptex files.
#include <Ptexture.h>

#include "FileBytes.h"
#include "PtexOpenFiles.h"
#include "TestData.h"
#include "TextureMaker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kFaces = 16;

class CollectingErrorHandler : public PtexErrorHandler {
public:
    void reportError(const char* error) override { messages.push_back(error); }
    std::vector<std::string> messages;
};

// Texture `seed`: 16 faces of 8 x 8 uint8 texels whose values depend on the seed.
tarsk::test::TextureLayout layoutFor(int seed)
{
    tarsk::test::TextureLayout layout;
    layout.dataType = Ptex::dt_uint8;
    layout.numChannels = 1;
    layout.faces = tarsk::test::quadGrid(4, 4, Ptex::Res(3, 3));
    layout.texel = [seed](int f, int u, int v, int) { return float((seed * 37 + f * 11 + u * 3 + v) % 251) / 255.f; };
    return layout;
}

uint8_t expectedTexel(int seed, int face, int u, int v)
{
    return tarsk::test::makeFaceTexels(layoutFor(seed), face)[size_t(v * 8 + u)];
}

// A cache of one file with one texture in it, as the plug-in opens a file for a frame.
struct PrivateTexture {
    PtexCache* cache = nullptr;
    PtexTexture* texture = nullptr;
    CollectingErrorHandler errors;

    bool open(const std::string& path)
    {
        cache = PtexCache::create(1, 1 << 20, false, nullptr, &errors);
        Ptex::String error;
        texture = cache->get(path.c_str(), error);
        EXPECT_NE(texture, nullptr) << error;
        cache->purgeAll();
        return texture != nullptr;
    }
    uint8_t texel(int face, int u, int v)
    {
        uint8_t value = 0xcd;
        PtexPtr<PtexFaceData> data(texture->getData(face));
        data->getPixel(u, v, &value);
        return value;
    }
    ~PrivateTexture()
    {
        if (texture) texture->release();
        if (cache) cache->release();
    }
};

class OpenFileLimit : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = tarsk::test::scratchDir() + "/OpenFileLimit_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { Ptex::OpenFileGroup::setProcessBudget(0); }

    std::string writeFile(const std::string& name, int seed)
    {
        const std::string path = dir + "/" + name;
        std::string error;
        EXPECT_TRUE(tarsk::test::writeTexture(path, layoutFor(seed), error)) << error;
        return path;
    }

    std::string dir;
};

TEST_F(OpenFileLimit, TheDefaultBudgetIsAQuarterOfTheDescriptorLimitAtMost256)
{
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int expected = limit.rlim_cur == RLIM_INFINITY ? 256 : int(std::clamp<rlim_t>(limit.rlim_cur / 4, 1, 256));
    EXPECT_EQ(Ptex::OpenFileGroup::processBudget(), expected);
}

TEST_F(OpenFileLimit, ManyCachesShareTheBudgetAndReadAsIfEveryFileStayedOpen)
{
    constexpr int kTextures = 40, kBudget = 5;
    Ptex::OpenFileGroup::setProcessBudget(kBudget);
    std::vector<std::unique_ptr<PrivateTexture>> textures;
    for (int t = 0; t < kTextures; ++t) {
        textures.push_back(std::make_unique<PrivateTexture>());
        ASSERT_TRUE(textures.back()->open(writeFile("t" + std::to_string(t) + ".ptx", t)));
        EXPECT_LE(Ptex::OpenFileGroup::processFilesOpen(), uint64_t(kBudget)) << "texture " << t;
    }
    // Every face of every texture, in an order that keeps reopening closed handles.
    for (int face = 0; face < kFaces; ++face) {
        for (int t = 0; t < kTextures; ++t) {
            const int u = (face + t) % 8, v = (3 * face + t) % 8;
            ASSERT_EQ(textures[size_t(t)]->texel(face, u, v), expectedTexel(t, face, u, v))
                << "texture " << t << " face " << face;
            ASSERT_LE(Ptex::OpenFileGroup::processFilesOpen(), uint64_t(kBudget));
        }
    }
    uint64_t reopens = 0;
    for (auto& texture : textures) {
        EXPECT_TRUE(texture->errors.messages.empty()) << texture->errors.messages.front();
        PtexCache::Stats stats;
        texture->cache->getStats(stats);
        EXPECT_LE(stats.filesOpen, 1u);
        reopens += stats.fileReopens;
    }
    EXPECT_GE(reopens, uint64_t(kTextures * (kFaces - 1))) << "handles were closed and opened again";
}

TEST_F(OpenFileLimit, AFileRewrittenOrRemovedWhileClosedFailsWithZerosNeverNewData)
{
    Ptex::OpenFileGroup::setProcessBudget(1);
    const std::string rewritten = writeFile("rewritten.ptx", 1);
    const std::string removed = writeFile("removed.ptx", 2);
    const std::string other = writeFile("other.ptx", 3);
    const std::string patched = writeFile("patched.ptx", 4);
    PrivateTexture a, b, c, d;
    ASSERT_TRUE(a.open(rewritten));
    ASSERT_TRUE(d.open(patched));
    ASSERT_TRUE(b.open(removed));
    EXPECT_EQ(b.texel(0, 1, 1), expectedTexel(2, 0, 1, 1));
    ASSERT_TRUE(c.open(other));  // the handles of a and b are closed now

    // Rewritten with other texels (the same layout and header): its modification time moves on.
    const auto before = fs::last_write_time(rewritten);
    writeFile("rewritten.ptx", 9);
    fs::last_write_time(rewritten, before + std::chrono::seconds(2));
    for (int round = 0; round < 2; ++round) {
        for (int face = 0; face < kFaces; ++face) {
            ASSERT_EQ(a.texel(face, 2, 5), 0) << "face " << face;
            float pixel = -1;
            a.texture->getPixel(face, 2, 5, &pixel, 0, 1);
            ASSERT_EQ(pixel, 0.f);
        }
    }
    ASSERT_EQ(a.errors.messages.size(), 1u);
    EXPECT_EQ(a.errors.messages[0], "Header mismatch on reopen of PtexFile: " + rewritten + "\n");

    // Removed: data read before it went (face 0) are not served either once the read failed.
    fs::remove(removed);
    EXPECT_EQ(b.texel(5, 1, 1), 0);
    EXPECT_EQ(b.texel(0, 1, 1), 0);
    ASSERT_EQ(b.errors.messages.size(), 1u);
    EXPECT_EQ(b.errors.messages[0], "Can't reopen PtexFile: " + removed + "\n");

    // Patched in place, its size and header unchanged: the modification time tells.
    {
        std::vector<uint8_t> bytes = tarsk::test::readBytes(patched);
        bytes[bytes.size() - 40] ^= 0x5a;
        FILE* f = fopen(patched.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        fclose(f);
        fs::last_write_time(patched, fs::last_write_time(patched) + std::chrono::seconds(2));
    }
    EXPECT_EQ(d.texel(15, 1, 1), 0);
    ASSERT_EQ(d.errors.messages.size(), 1u);
    EXPECT_EQ(d.errors.messages[0], "Header mismatch on reopen of PtexFile: " + patched + "\n");

    // The untouched file still reads, and a fresh open of the rewritten file gives its new data.
    EXPECT_EQ(c.texel(7, 3, 3), expectedTexel(3, 7, 3, 3));
    EXPECT_TRUE(c.errors.messages.empty());
    PrivateTexture fresh;
    ASSERT_TRUE(fresh.open(rewritten));
    EXPECT_EQ(fresh.texel(4, 2, 5), expectedTexel(9, 4, 2, 5));
}

// Opens `path` on another thread; fails the test (after unblocking a FIFO) if that takes more
// than a few seconds.
std::string openError(const std::string& path, bool cached)
{
    auto attempt = std::async(std::launch::async, [path, cached] {
        Ptex::String error;
        PtexTexture* texture = nullptr;
        PtexCache* cache = nullptr;
        if (cached) {
            cache = PtexCache::create(0, 0);
            texture = cache->get(path.c_str(), error);
        } else {
            texture = PtexTexture::open(path.c_str(), error);
        }
        if (texture) texture->release();
        if (cache) cache->release();
        return texture ? std::string("opened") : std::string(error);
    });
    if (attempt.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
        // A writer lets a blocked open of a FIFO return.
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        ADD_FAILURE() << "opening " << path << " blocked";
    }
    return attempt.get();
}

TEST_F(OpenFileLimit, FifosDevicesAndDirectoriesAreRefusedWithoutBlocking)
{
    const std::string fifo = dir + "/pipe.ptx";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir + "/folder.ptx";
    fs::create_directory(folder);
    for (bool cached : {false, true}) {
        SCOPED_TRACE(cached ? "cache" : "PtexTexture::open");
        EXPECT_EQ(openError(fifo, cached), "Can't open ptex file: " + fifo + "\nNot a regular file");
        EXPECT_EQ(openError("/dev/zero", cached), "Can't open ptex file: /dev/zero\nNot a regular file");
        EXPECT_EQ(openError("/dev/null", cached), "Can't open ptex file: /dev/null\nNot a regular file");
        EXPECT_EQ(openError(folder, cached), "Not a ptex file: " + folder);
    }
}

}  // namespace
