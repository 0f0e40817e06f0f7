// The note on a cache too small for the frame: random bicubic lookups over a texture of a few
// megabytes through the default "cache_size" of 1 MB re-read far more than the cache holds, so
// frame end notes it once, naming the file, the limit, what was re-read and a "cache_size";
// with that "cache_size" the same frame re-reads nothing and gets no note.
#include "CacheThrashNote.h"
#include "TestData.h"
#include "TexPtexHarness.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace texptex_test;
using TUtils::ShadingContext;
using TUtils::TarskMessageLog;

namespace {

constexpr int kGrid = 24;

// 576 faces of 32 x 32 RGB texels: about 1.7 MB at full resolution.
std::string largeFile()
{
    const std::string dir = tarsk::test::scratchDir() + "/texptex";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/cache-note.ptx";
    tarsk::test::TextureLayout layout;
    layout.dataType = Ptex::dt_uint8;
    layout.numChannels = 3;
    layout.faces = tarsk::test::quadGrid(kGrid, kGrid, Ptex::Res(5, 5));
    layout.texel = [](int f, int u, int v, int c) {
        return 0.5f + 0.5f * std::sin(float(f * 3 + u * (c + 1)) * 0.7f + float(v * (c + 2)) * 0.3f);
    };
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, layout, error)) << error;
    return path;
}

// One frame of random bicubic lookups; answers the notes the log got.
std::vector<std::string> frameNotes(const std::string& path, int cacheSizeMb)
{
    Harness h(1);
    h.setString("ptex_file", path.c_str());
    h.setInt("filter_type", 4);
    if (cacheSizeMb) h.setInt("cache_size", cacheSizeMb);
    h.setMesh(quadGridMesh(kGrid));
    h.begin();
    EXPECT_TRUE(h.tex().ready);
    std::mt19937 random(7);
    for (int i = 0; i < 6000; ++i) {
        const int face = int(random() % (kGrid * kGrid));
        ShadingContext c = h.contextAtWeights(2 * face + int(random() % 2), float(random() % 400) / 1000.f,
                                              float(random() % 400) / 1000.f);
        c.dPdx = {0.01f, 0, 0};
        c.dPdy = {0, 0.01f, 0};
        h.eval(c);
    }
    h.end();
    std::vector<std::string> notes;
    for (const TarskMessageLog::Message& m : h.log().messages())
        if (m.level == TarskMessageLog::Level::Info && m.text.find("re-read") != std::string::npos)
            notes.push_back(m.text);
    EXPECT_EQ(h.log().count(TarskMessageLog::Level::Error), 0);
    return notes;
}

TEST(TexPtexCacheNote, ATooSmallCacheIsNotedOnceWithACacheSizeThatHoldsTheFrame)
{
    const std::string path = largeFile();
    const std::vector<std::string> notes = frameNotes(path, 0);
    ASSERT_EQ(notes.size(), 1u);
    const std::string& note = notes[0];
    EXPECT_NE(note.find("\"" + path + "\""), std::string::npos) << note;
    EXPECT_NE(note.find("(1 MB, \"cache_size\")"), std::string::npos) << note;
    const size_t at = note.find("a \"cache_size\" of ");
    ASSERT_NE(at, std::string::npos) << note;
    const int suggested = std::atoi(note.c_str() + at + 18);
    EXPECT_GT(suggested, 1) << note;
    EXPECT_LT(suggested, 16) << note;
    EXPECT_TRUE(frameNotes(path, suggested).empty()) << "the suggested cache_size still thrashes";
}

TEST(TexPtexCacheNote, TheNoteNeedsMoreThanAFewTimesTheLimitReRead)
{
    PtexCacheUse use;
    use.limitBytes = 1 << 20;
    use.workingSetBytes = 3 << 20;
    use.reloadedBytes = kThrashRereadFactor << 20;
    EXPECT_EQ(cacheThrashNote("a.ptx", use), "");
    use.reloadedBytes += 1;
    EXPECT_EQ(cacheThrashNote("a.ptx", use),
              "TexPtex: the Ptex cache of \"a.ptx\" (1 MB, \"cache_size\") re-read 4.0 MB of evicted data during the "
              "frame; a \"cache_size\" of 4 would hold the frame's 3.0 MB of texture data");
    use.limitBytes = 0;
    EXPECT_EQ(cacheThrashNote("a.ptx", use), "") << "a cache without a limit never evicts";
    EXPECT_EQ(cacheSizeFor(0), 0);
    EXPECT_EQ(cacheSizeFor(1), 1);
    EXPECT_EQ(cacheSizeFor(15u << 20), 16);
    EXPECT_EQ(cacheSizeFor(16u << 20), 17);
}

}  // namespace
