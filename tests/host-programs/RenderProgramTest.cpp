// tarsk-render as a user runs it: PNG and EXR files of the right size, frame sequences, one error
// line and a non-zero exit for bad scenes and unwritable outputs, and the colours it shades agree
// with what tarsk-eval answers for the very same shading points (--dump-points).
#include "HostTestSupport.h"
#include "ImageFile.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cmath>
#include <filesystem>
#include <sstream>

using namespace tarsk;
using namespace tarsk::test;
namespace fs = std::filesystem;

namespace {

// A unit cube seen from a corner, its Ptex file baked by ptex-bake from a procedural.
const char* kCubeObj =
    "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 0 0 1\nv 1 0 1\nv 0 1 1\nv 1 1 1\n"
    "f 1 3 4 2\nf 5 6 8 7\nf 1 2 6 5\nf 3 7 8 4\nf 1 5 7 3\nf 2 4 8 6\n";

class RenderProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (renderProgram().empty() || bakeProgram().empty()) GTEST_SKIP() << "tarsk-render or ptex-bake is not built";
        dir = scratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        writeFile(dir + "/cube.obj", kCubeObj);
        CommandResult baked =
            runCommand({bakeProgram(), dir + "/cube.obj", dir + "/cube.ptx", "--procedural", "noise", "--res", "4"});
        ASSERT_EQ(baked.exitCode, 0) << baked.err;
    }

    std::string scene(const std::string& extraTexture = "", const std::string& extraTop = "",
                      const std::string& extraObject = "")
    {
        std::string text =
            "{\"renderer\": {\"threads\": 2, \"message_log\": true},\n"
            " \"camera\": {\"position\": [2.2, 1.8, 2.6], \"look_at\": [0.5, 0.5, 0.5], \"fov_deg\": 45},\n"
            " \"image\": {\"width\": 40, \"height\": 30, \"spp\": 1}, \"shading\": \"unlit\"" +
            extraTop +
            ",\n"
            " \"objects\": [{\"name\": \"cube\"" +
            extraObject +
            ", \"mesh\": {\"obj\": \"cube.obj\"},\n"
            "   \"texture\": {\"type\": \"TexPtex\", \"ptex_file\": \"cube.ptx\", \"filter_type\": 2" +
            extraTexture + "}}]}\n";
        std::string path = dir + "/scene" + std::to_string(counter++) + ".json";
        writeFile(path, text);
        return path;
    }

    CommandResult render(std::vector<std::string> args)
    {
        args.insert(args.begin(), renderProgram());
        args.push_back("--plugin");
        args.push_back(pluginPath());
        args.push_back("--quiet");
        return runCommand(args);
    }

    std::string dir;
    int counter = 0;
};

}  // namespace

TEST_F(RenderProgram, WritesPngAndExrOfTheRequestedSize)
{
    std::string s = scene();
    CommandResult png = render({s, "-o", dir + "/out.png", "--width", "37", "--height", "21", "--threads", "2"});
    ASSERT_EQ(png.exitCode, 0) << png.err;
    bake::Image a = bake::readImage(dir + "/out.png");
    EXPECT_EQ(a.width, 37);
    EXPECT_EQ(a.height, 21);
    CommandResult exr = render({s, "-o", dir + "/out.exr", "--width", "37", "--height", "21", "--threads", "1"});
    ASSERT_EQ(exr.exitCode, 0) << exr.err;
    bake::Image b = bake::readImage(dir + "/out.exr");
    ASSERT_EQ(b.width, 37);
    ASSERT_EQ(b.height, 21);
    // The same picture: the EXR is linear half floats, the PNG 8-bit sRGB; 1 and 2 threads agree.
    double worst = 0;
    bool anyObject = false;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int c = 0; c < 3; ++c) {
                worst = std::max<double>(
                    worst, std::fabs(a.pixel(x, y)[c] - bake::srgbToLinear(bake::linearToSrgb(b.pixel(x, y)[c]))));
                anyObject |= std::fabs(b.pixel(x, y)[c] - b.pixel(0, 0)[c]) > 0.01f;
            }
    EXPECT_LT(worst, 0.01);
    EXPECT_TRUE(anyObject) << "the cube is not in the picture";
}

TEST_F(RenderProgram, FrameRangesWriteOneNumberedImagePerFrame)
{
    std::string s = scene(", \"blur\": {\"keys\": [[0, 0.0], [2, 0.3]]}");
    CommandResult r = render({s, "-o", dir + "/seq.png", "--frames", "0:2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* name : {"seq.0000.png", "seq.0001.png", "seq.0002.png"})
        EXPECT_TRUE(fs::exists(dir + "/" + name)) << name;
    EXPECT_FALSE(fs::exists(dir + "/seq.png"));
}

TEST_F(RenderProgram, BadScenesAndOutputsFailWithOneErrorLine)
{
    std::string good = scene();
    writeFile(dir + "/bad.json", "{\"objects\": [}");
    writeFile(dir + "/noobj.json",
              "{\"objects\": [{\"mesh\": {\"obj\": \"gone.obj\"}, \"texture\": {\"type\": \"TexPtex\"}}]}");
    fs::create_directories(dir + "/folder.png");
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    std::vector<Case> cases = {
        {{dir + "/bad.json", "-o", dir + "/a.png"}, "malformed JSON"},
        {{dir + "/noobj.json", "-o", dir + "/a.png"}, "objects[0].mesh.obj: cannot open OBJ file"},
        {{dir + "/absent.json", "-o", dir + "/a.png"}, "cannot open scene file"},
        {{good, "-o", dir + "/no/such/folder/a.png"}, "does not exist"},
        {{good, "-o", dir + "/folder.png"}, "it is a folder"},
        {{good, "-o", dir + "/a.png", "--spp", "0"}, "--spp takes"},
        {{good, "-o", dir + "/a.png", "--frames", "3:1"}, "--frames takes"},
    };
    for (const Case& c : cases) {
        CommandResult r = render(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.expected;
        EXPECT_TRUE(r.err.rfind("error: ", 0) == 0) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir + "/a.png"));
    CommandResult noPlugin = runCommand({renderProgram(), good, "-o", dir + "/a.png", "--plugin", dir + "/none.so"});
    EXPECT_EQ(noPlugin.exitCode, 1);
    EXPECT_NE(noPlugin.err.find("error: cannot load plug-in"), std::string::npos) << noPlugin.err;
    if (::geteuid() != 0) {  // root writes anywhere; the read-only case only means something for users
        fs::create_directories(dir + "/readonly");
        fs::permissions(dir + "/readonly", fs::perms::owner_read | fs::perms::owner_exec);
        CommandResult ro = render({good, "-o", dir + "/readonly/a.png"});
        EXPECT_EQ(ro.exitCode, 1);
        fs::permissions(dir + "/readonly", fs::perms::owner_all);
    }
}

TEST_F(RenderProgram, OutputsThatCannotBeWrittenAreRefusedBeforeRendering)
{
    std::string good = scene();
    fs::create_symlink("/dev/null", dir + "/device.png");
    struct Case {
        std::string output;
        std::string expected;
    };
    for (const Case& c :
         {Case{dir + "/out.jpg", "unknown image format '.jpg'"}, Case{dir + "/out.TIF", "unknown image format '.tif'"},
          Case{dir + "/out", "no file extension"}, Case{"/proc/out.png", "cannot create a file in folder '/proc'"},
          Case{dir + "/device.png", "is not a regular file"}}) {
        CommandResult r = render({good, "-o", c.output});
        EXPECT_EQ(r.exitCode, 1) << c.output;
        EXPECT_TRUE(r.err.rfind("error: cannot write '" + c.output + "'", 0) == 0) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "nothing is written for " << c.output;
    }
    EXPECT_FALSE(fs::exists(dir + "/out.jpg"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    // The demo is not even generated when its output is refused.
    CommandResult demo = runCommand({"/usr/bin/env", "XDG_CACHE_HOME=" + dir + "/cache", renderProgram(), "-o",
                                     dir + "/demo.jpg", "--plugin", pluginPath(), "--quiet"});
    EXPECT_EQ(demo.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir + "/cache"));
}

TEST_F(RenderProgram, FailedWritesLeaveTheExistingImageAlone)
{
    std::string s = scene();
    for (const char* name : {"keep.png", "keep.exr"}) {
        const std::string path = dir + "/" + name;
        writeFile(path, "what was there before");
        // A file-size limit of 1 KB makes the image write fail half-way, as a full disk would.
        CommandResult r =
            runCommand({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$@\"", "sh", renderProgram(), s, "-o", path,
                        "--width", "200", "--height", "200", "--plugin", pluginPath(), "--quiet"});
        EXPECT_EQ(r.exitCode, 1) << name;
        EXPECT_NE(r.err.find("error: cannot write"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
        EXPECT_EQ(readFile(path), "what was there before") << name;
    }
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_NE(entry.path().extension(), ".part") << "a temporary file was left behind: " << entry.path();
    // A symbolic link is written through: the file it names is replaced, the link stays.
    writeFile(dir + "/real.png", "old");
    fs::create_symlink("real.png", dir + "/link.png");
    CommandResult linked = render({s, "-o", dir + "/link.png"});
    ASSERT_EQ(linked.exitCode, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(dir + "/link.png"));
    EXPECT_EQ(bake::readImage(dir + "/real.png").width, 40);
}

TEST_F(RenderProgram, AlphaIsCoverageOnlyWhereTheSceneAsksForIt)
{
    auto renderWith = [&](const std::string& extraObject) {
        CommandResult r = render({scene("", "", extraObject), "-o", dir + "/alpha.exr"});
        EXPECT_EQ(r.exitCode, 0) << extraObject << ": " << r.err;
        return bake::readImage(dir + "/alpha.exr");
    };
    auto sameImage = [](const bake::Image& a, const bake::Image& b) { return a.rgba == b.rgba; };
    bake::Image byDefault = renderWith("");
    bake::Image opaque = renderWith(", \"opaque\": true");
    bake::Image coverage = renderWith(", \"alpha_coverage\": true");
    bake::Image olderSpelling = renderWith(", \"opaque\": false");
    EXPECT_TRUE(sameImage(byDefault, opaque));
    EXPECT_TRUE(sameImage(byDefault, renderWith(", \"alpha_coverage\": false")));
    EXPECT_TRUE(sameImage(coverage, olderSpelling));
    EXPECT_FALSE(sameImage(byDefault, coverage)) << "the noise texture's luminance alpha made no difference";
    CommandResult both = render({scene("", "", ", \"opaque\": true, \"alpha_coverage\": true"), "-o", dir + "/x.png"});
    EXPECT_EQ(both.exitCode, 1);
    EXPECT_NE(both.err.find("objects[0]: \"alpha_coverage\" and \"opaque\" contradict each other"), std::string::npos)
        << both.err;
}

TEST_F(RenderProgram, ShadedColoursEqualWhatTarskEvalAnswers)
{
    // One sample per pixel, unlit, and the object opaque as every object is by default (the
    // texture answers its luminance as alpha, which is no coverage): each dumped pixel is exactly
    // the texture's colour.
    struct Variant {
        std::string texture;
        std::string flag;
    };
    for (const Variant& v :
         {Variant{"", ""}, Variant{", \"lerp\": true, \"width\": 3", ""}, Variant{"", "--correct-hits"}}) {
        std::string s = scene(v.texture);
        std::vector<std::string> args = {s, "-o", dir + "/dump.png", "--dump-points", "60", "--threads", "2"};
        if (!v.flag.empty()) args.push_back(v.flag);
        CommandResult r = render(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> pixels = splitLines(readFile(dir + "/dump.pixels.tsv"));
        ASSERT_GT(pixels.size(), 10u) << "too few dumped points hit the cube";
        CommandResult e = runCommand({evalProgram(), s, dir + "/dump.points.tsv", "--plugin", pluginPath()});
        ASSERT_EQ(e.exitCode, 0) << e.err;
        std::vector<std::string> evaluated = splitLines(e.out);
        ASSERT_EQ(evaluated.size() + 1, pixels.size());
        bake::Image image = bake::readImage(dir + "/dump.png");
        for (size_t i = 0; i < evaluated.size(); ++i) {
            std::istringstream row(pixels[i + 1]);
            int x, y;
            std::string object;
            double rgba[4];
            row >> x >> y >> object >> rgba[0] >> rgba[1] >> rgba[2] >> rgba[3];
            std::istringstream answer(evaluated[i]);
            double expected[4];
            answer >> expected[0] >> expected[1] >> expected[2] >> expected[3];
            for (int c = 0; c < 4; ++c) EXPECT_EQ(rgba[c], expected[c]) << "point " << i << " channel " << c;
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(bake::linearToSrgb(image.pixel(x, y)[c]),
                            bake::linearToSrgb(static_cast<float>(expected[c])), 0.6 / 255)
                    << "pixel " << x << "," << y;
        }
    }
}
