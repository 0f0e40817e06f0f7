// A file with one corrupt face, evaluated from four render threads over several frames: the
// corrupt face answers the same colour (that of zero data) on every thread and in every frame,
// its error reaches the renderer's message log once per frame, and the library prints nothing
// itself, also when the scene turns the log off.
#include "CorruptFace.h"
#include "TestData.h"
#include "TexPtexHarness.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace texptex_test;
using TUtils::ShadingContext;
using TUtils::TarskMessageLog;

namespace {

constexpr int kGrid = 4, kCorrupt = 5, kThreads = 4, kFrames = 3;

std::string corruptFile()
{
    const std::string dir = tarsk::test::scratchDir() + "/texptex";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/corrupt-face.ptx";
    tarsk::test::TextureLayout layout;
    layout.dataType = Ptex::dt_uint8;
    layout.numChannels = 3;
    layout.faces = tarsk::test::quadGrid(kGrid, kGrid, Ptex::Res(4, 4));
    layout.texel = [](int f, int u, int v, int c) {
        return float((f * 41 + u * 9 + v * 5 + c * 70) % 230 + 20) / 255.f;
    };
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, layout, error)) << error;
    EXPECT_TRUE(tarsk::test::corruptFaceData(path, kCorrupt, error)) << error;
    return path;
}

bool sameBits(const TUtils::Color& a, const TUtils::Color& b) { return memcmp(&a, &b, sizeof(a)) == 0; }

// One frame: every thread evaluates points on every face, starting at a face of its own, so
// that the threads reach the corrupt face at different moments. Answers the colours of the
// corrupt face's points, per thread.
std::vector<std::vector<TUtils::Color>> frame(Harness& h)
{
    std::vector<std::vector<ShadingContext>> contexts(kThreads);
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int n = 0; n < kGrid * kGrid; ++n) {
            const int face = (n + thread * 7) % (kGrid * kGrid);
            for (int k = 0; k < 6; ++k) {
                ShadingContext c = h.contextAtWeights(2 * face + k % 2, 0.1f + 0.05f * float(k), 0.3f, thread);
                c.dPdx = {0.02f, 0, 0};
                c.dPdy = {0, 0.02f, 0};
                contexts[size_t(thread)].push_back(c);
            }
        }
    }
    std::vector<std::vector<TUtils::Color>> corrupt(kThreads);
    std::vector<std::thread> workers;
    for (int thread = 0; thread < kThreads; ++thread) {
        workers.emplace_back([&, thread] {
            for (ShadingContext& c : contexts[size_t(thread)]) {
                const TUtils::Color color = h.tex().evalColor(c);
                if (c.faceIndex / 2 == kCorrupt) corrupt[size_t(thread)].push_back(color);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    return corrupt;
}

TEST(TexPtexReadErrorConcurrency, ACorruptFaceAnswersTheSameOnEveryThreadAndFrameAndIsLoggedOncePerFrame)
{
    const std::string path = corruptFile();
    for (bool withLog : {true, false}) {
        SCOPED_TRACE(withLog ? "with a message log" : "without a message log");
        Harness h(kThreads, withLog);
        h.setString("ptex_file", path.c_str());
        h.setInt("filter_type", 1);
        h.setMesh(quadGridMesh(kGrid));
        ::testing::internal::CaptureStderr();
        h.tex().renderBegin(&h.renderer());
        std::vector<TUtils::Color> seen;
        for (int f = 0; f < kFrames; ++f) {
            h.log().clear();
            h.tex().frameBegin(&h.renderer());
            ASSERT_TRUE(h.tex().ready);
            for (const auto& colors : frame(h)) {
                ASSERT_EQ(colors.size(), 6u);
                seen.insert(seen.end(), colors.begin(), colors.end());
            }
            h.tex().frameEnd(&h.renderer());
            if (withLog) {
                ASSERT_EQ(h.log().count(TarskMessageLog::Level::Error), 1) << "frame " << f;
                for (const TarskMessageLog::Message& m : h.log().messages()) {
                    if (m.level != TarskMessageLog::Level::Error) continue;
                    EXPECT_EQ(m.text, "PtexReader error: unzip failed, file corrupt PtexFile: " + path);
                }
            }
        }
        h.tex().renderEnd(&h.renderer());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the library printed the error itself";
        ASSERT_FALSE(seen.empty());
        // Zero data: black, and the luminance alpha of black.
        EXPECT_EQ(seen[0].r, 0.f);
        EXPECT_EQ(seen[0].g, 0.f);
        EXPECT_EQ(seen[0].b, 0.f);
        for (const TUtils::Color& color : seen) ASSERT_TRUE(sameBits(color, seen[0]));
    }
}

}  // namespace
