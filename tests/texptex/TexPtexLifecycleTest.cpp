// Frame start and end, render start and end, and what they report, through a TexPtex instance
// made by the library's descriptor.
#include "PtexTextureOpen.h"
#include "TexPtexHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace texptex_test;
using TUtils::TarskMessageLog;

namespace {

MeshLists oneQuad() { return fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}); }

bool isWhite(const Color& c) { return c.r == 1 && c.g == 1 && c.b == 1 && c.a == 1; }

}  // namespace

TEST(TexPtexLifecycle, CacheLimitIsOneMegabyteAtLeastAndNeverOverflows)
{
    EXPECT_EQ(ptexCacheLimitBytes(0), 1048576);
    EXPECT_EQ(ptexCacheLimitBytes(-5), 1048576);
    EXPECT_EQ(ptexCacheLimitBytes(1), 1048576);
    EXPECT_EQ(ptexCacheLimitBytes(2), 2097152);
    EXPECT_EQ(ptexCacheLimitBytes(2048), int64_t{2048} << 20) << "past the 32-bit range";
    EXPECT_EQ(ptexCacheLimitBytes(4096), int64_t{4} << 30);
    EXPECT_EQ(ptexCacheLimitBytes(INT32_MIN), 1048576);
}

TEST(TexPtexLifecycle, PrivateCacheTextureWorksAndIsFreedWithTheTexture)
{
    const std::string path = writeConstantTexture("lifecycle-open.ptx", true, 2, {0.25f, 0.5f, 0.75f});
    Ptex::String error;
    PtexTexture* texture = openPtexTexture(path.c_str(), error, false, 0);
    ASSERT_NE(texture, nullptr) << error;
    EXPECT_EQ(texture->numChannels(), 3);
    EXPECT_EQ(texture->numFaces(), 2);
    EXPECT_EQ(texture->meshType(), Ptex::mt_quad);
    EXPECT_STREQ(texture->path(), path.c_str());
    PtexFilter* filter = PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_box));
    ASSERT_NE(filter, nullptr);
    float rgb[3] = {0, 0, 0};
    filter->eval(rgb, 0, 3, 1, 0.5f, 0.5f, 0.1f, 0, 0, 0.1f);
    EXPECT_FLOAT_EQ(rgb[1], 0.5f);
    filter->release();
    // Under the leak checker of the sanitizer build, this release must free cache and texture.
    texture->release();

    error.clear();
    EXPECT_EQ(openPtexTexture((path + ".missing").c_str(), error, false, 1 << 20), nullptr);
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_EQ(openPtexTexture(nullptr, error, false, 1 << 20), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(TexPtexLifecycle, MissingFileIsReportedOnceAndEvaluatesWhite)
{
    for (bool withLog : {true, false}) {
        Harness h(2, withLog);
        h.setString("ptex_file", "/nonexistent/file.ptx");
        h.setMesh(oneQuad());
        h.begin();
        EXPECT_FALSE(h.tex().ready);
        EXPECT_EQ(h.tex().texture, nullptr);
        if (withLog) {
            EXPECT_EQ(h.log().count(TarskMessageLog::Level::Error), 1);
            EXPECT_EQ(h.log().count(TarskMessageLog::Level::Info), 0) << "no 'loaded' message";
            ASSERT_EQ(h.log().messages().size(), 1u);
            EXPECT_NE(h.log().messages()[0].text.find("/nonexistent/file.ptx"), std::string::npos)
                << h.log().messages()[0].text;
        }
        EXPECT_TRUE(isWhite(h.evalAt(0, {0.5f, 0.25f, 0})));
        h.tex().frameEnd(&h.renderer());
        h.tex().frameEnd(&h.renderer());
        EXPECT_FALSE(h.tex().ready);
        h.end();
    }
}

TEST(TexPtexLifecycle, LoadedFileIsAnnouncedAndFrameEndReleasesEverything)
{
    const std::string path = writeIdTexture("lifecycle-quad.ptx", true, 1);
    Harness h(3);
    h.setString("ptex_file", path.c_str());
    h.setMesh(oneQuad());
    h.begin();
    ASSERT_TRUE(h.tex().ready);
    EXPECT_EQ(h.tex().numFilters, 3);
    EXPECT_EQ(h.tex().numThreadCaches, 3);
    ASSERT_EQ(h.log().messages().size(), 1u);
    EXPECT_EQ(h.log().messages()[0].level, TarskMessageLog::Level::Info);
    EXPECT_EQ(h.log().messages()[0].text, "PTex file \"" + path + "\" loaded.");
    EXPECT_FALSE(isWhite(h.evalAt(0, {0.5f, 0.25f, 0})));

    h.tex().frameEnd(&h.renderer());
    EXPECT_FALSE(h.tex().ready);
    EXPECT_EQ(h.tex().texture, nullptr);
    EXPECT_EQ(h.tex().filters, nullptr);
    EXPECT_EQ(h.tex().mesh, nullptr);
    EXPECT_TRUE(isWhite(h.evalAt(0, {0.5f, 0.25f, 0})));
    h.tex().frameEnd(&h.renderer());  // nothing left to release

    // A frameBegin without frameEnd in between lets the previous frame go first (the leak
    // checker of the sanitizer build sees the rest).
    h.tex().frameBegin(&h.renderer());
    h.tex().frameBegin(&h.renderer());
    EXPECT_TRUE(h.tex().ready);
    h.end();
    EXPECT_EQ(h.tex().threadCaches, nullptr);
    EXPECT_EQ(h.tex().numThreadCaches, 0);
}

TEST(TexPtexLifecycle, GammaIsFixedAtFrameStart)
{
    const std::string path = writeIdTexture("lifecycle-gamma.ptx", true, 1);
    Harness h(1);
    h.setString("ptex_file", path.c_str());
    h.setMesh(oneQuad());
    h.setFloat("gamma", 1.0f);
    h.begin();
    EXPECT_FALSE(h.tex().gammaActive);
    h.tex().frameEnd(&h.renderer());
    h.setFloat("gamma", 2.2f);
    h.tex().frameBegin(&h.renderer());
    EXPECT_TRUE(h.tex().gammaActive);
    EXPECT_EQ(h.tex().invGamma, 1.0f / 2.2f);
    h.tex().frameEnd(&h.renderer());
    h.setFloat("gamma", 0.0f);
    h.tex().frameBegin(&h.renderer());
    EXPECT_TRUE(h.tex().gammaActive);
    EXPECT_TRUE(std::isinf(h.tex().invGamma));
    h.end();
}

TEST(TexPtexLifecycle, CachesFollowTheRendererThreadCount)
{
    const std::string path = writeIdTexture("lifecycle-threads.ptx", true, 1);
    Harness h(2);
    h.setString("ptex_file", path.c_str());
    h.setMesh(oneQuad());
    h.tex().renderBegin(&h.renderer());
    ResultCache* first = h.tex().threadCaches[0].get();
    first->store(4, 9, Color{0, 0, 0, 0});
    h.tex().renderBegin(&h.renderer());
    ASSERT_EQ(h.tex().numThreadCaches, 2);
    EXPECT_EQ(h.tex().threadCaches[0]->count, 0) << "renderBegin makes new, empty caches";

    // The thread count grew between renderBegin and frameBegin: caches are made anew, so that
    // every thread that has a filter has its cache.
    h.renderer().globals.numThreads = 4;
    h.tex().frameBegin(&h.renderer());
    EXPECT_EQ(h.tex().numFilters, 4);
    EXPECT_EQ(h.tex().numThreadCaches, 4);
    h.end();

    // The first frameBegin of a render without renderBegin makes the caches itself.
    Harness late(2);
    late.setString("ptex_file", path.c_str());
    late.setMesh(oneQuad());
    late.tex().frameBegin(&late.renderer());
    EXPECT_EQ(late.tex().numThreadCaches, 2);
    late.end();
}

TEST(TexPtexLifecycle, FrameStartKeepsTheInstanceNotReadyOnBadLists)
{
    const std::string quadPath = writeIdTexture("lifecycle-lists.ptx", true, 2);
    const std::string triPath = writeIdTexture("lifecycle-lists-tri.ptx", false, 2);
    MeshLists good = oneQuad();

    {  // No lists at all.
        Harness h(1);
        h.setString("ptex_file", quadPath.c_str());
        h.begin();
        EXPECT_FALSE(h.tex().ready);
        EXPECT_EQ(h.log().count(TarskMessageLog::Level::Error), 1);
        h.end();
    }
    {  // A triangle-type file still needs "origFacesDegree".
        Harness h(1);
        h.setString("ptex_file", triPath.c_str());
        MeshLists tri = fanMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
        TUtils::TarskPluginParameter vertices("vertices");
        vertices.setVectorList(0.0, tri.vertices);
        h.tex().setParameter(&vertices);
        h.setIntList("origFaces", tri.origFaces);
        h.setIntList("faces", tri.faces);
        h.begin();
        EXPECT_FALSE(h.tex().ready);
        h.tex().frameEnd(&h.renderer());
        h.setIntList("origFacesDegree", tri.origFacesDegree);
        h.tex().frameBegin(&h.renderer());
        EXPECT_TRUE(h.tex().ready);
        h.end();
    }
    {  // An index past the vertices: the topology is invalid, reported, and not ready.
        Harness h(1);
        h.setString("ptex_file", quadPath.c_str());
        MeshLists bad = good;
        bad.origFaces[2] = 17;
        h.setMesh(bad);
        h.begin();
        EXPECT_FALSE(h.tex().ready);
        ASSERT_EQ(h.log().count(TarskMessageLog::Level::Error), 1);
        EXPECT_NE(h.log().messages()[0].text.find(quadPath), std::string::npos) << h.log().messages()[0].text;
        EXPECT_EQ(h.log().count(TarskMessageLog::Level::Info), 0);
        EXPECT_TRUE(isWhite(h.evalAt(0, {0.5f, 0.25f, 0})));
        h.end();
    }
}

TEST(TexPtexLifecycle, FilesWithMoreThan256ChannelsAreRefused)
{
    const std::string path = writeConstantTexture("lifecycle-wide.ptx", true, 1, std::vector<float>(257, 0.5f));
    Harness h(1);
    h.setString("ptex_file", path.c_str());
    h.setMesh(oneQuad());
    h.begin();
    EXPECT_FALSE(h.tex().ready);
    ASSERT_EQ(h.log().count(TarskMessageLog::Level::Error), 1);
    const std::string text = h.log().messages()[0].text;
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_NE(text.find("257"), std::string::npos) << text;
    EXPECT_TRUE(isWhite(h.evalAt(0, {0.5f, 0.25f, 0})));
    h.end();

    // 256 channels are still read, every one of them.
    const std::string widest = writeConstantTexture("lifecycle-256.ptx", true, 1, std::vector<float>(256, 0.5f));
    Harness w(1);
    w.setString("ptex_file", widest.c_str());
    w.setMesh(oneQuad());
    w.begin();
    EXPECT_TRUE(w.tex().ready);
    const Color c = w.evalAt(0, {0.5f, 0.25f, 0});
    EXPECT_EQ(c.r, 0.5f);
    w.end();
}
