// The plug-in as a host runs it: tarsk-eval loads tarsk_TexPtex.so, sets a scene's parameters
// (only "ptex_file" and the mesh, so every other parameter keeps its default) and evaluates
// POINTS rows made by its --make-points. Face-id textures tell which face and (u, v) each hit got.
#include "TestData.h"
#include "TexPtexHarness.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

std::string slurp(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void spill(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Runs a command line of plain words (paths of the build tree, no quoting needed).
Outcome run(const std::string& dir, const std::string& args, const std::string& input = "")
{
    spill(dir + "/stdin.txt", input);
    const std::string command = std::string(TARSK_EVAL_PATH) + " " + args + " < " + dir + "/stdin.txt > " + dir +
                                "/stdout.txt 2> " + dir + "/stderr.txt";
    Outcome r;
    const int status = std::system(command.c_str());
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = slurp(dir + "/stdout.txt");
    r.err = slurp(dir + "/stderr.txt");
    return r;
}

struct Rgba {
    double r, g, b, a;
};

std::vector<Rgba> colours(const std::string& out)
{
    std::vector<Rgba> result;
    std::istringstream in(out);
    for (Rgba c; in >> c.r >> c.g >> c.b >> c.a;) result.push_back(c);
    return result;
}

class TexPtexScene : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = tarsk::test::scratchDir() + "/texptex";  // the scratch folder is this test's own
        std::filesystem::create_directories(dir);
    }

    // A scene of one object with the given OBJ text, ptex file and renderer settings; the object
    // is rotated and moved, so every hit goes through the hit object's transform.
    std::string scene(const std::string& obj, const std::string& ptex, int threads, bool log)
    {
        spill(dir + "/mesh.obj", obj);
        const std::string path = dir + "/scene.json";
        spill(path,
              "{\"renderer\": {\"threads\": " + std::to_string(threads) +
                  ", \"frame_time\": 0, \"message_log\": " + (log ? "true" : "false") +
                  "},\n \"objects\": [{\"name\": \"thing\", \"transform\": [0,-1,0,3, 1,0,0,-2, 0,0,1,7, 0,0,0,1],\n"
                  "  \"mesh\": {\"obj\": \"mesh.obj\"}, \"texture\": {\"type\": \"TexPtex\", \"ptex_file\": \"" +
                  ptex + "\"}}]}\n");
        return path;
    }

    // Evaluates hits given as "faceIndex weightA weightB [thread]" lines.
    Outcome evaluate(const std::string& scenePath, const std::string& requests, const std::string& extra = "")
    {
        Outcome made = run(dir, "--make-points " + scenePath + " -", requests);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        spill(dir + "/points.tsv", made.out);
        return run(dir, scenePath + " " + dir + "/points.tsv --plugin " + TARSK_PLUGIN_PATH + " " + extra);
    }

    std::string dir;
};

constexpr double kTexelCentre = 0.5 / 64;  // u or v of the first texel centre at 64 texels

}  // namespace

TEST_F(TexPtexScene, QuadFileWithAPentagonGivesTheExpectedFacesAndCoordinates)
{
    // A quad (Ptex face 0) and a pentagon with centre (2, 2) (sub-faces 1 ... 5). Render
    // triangles: the quad's 0 and 1, the pentagon's fan 2, 3, 4.
    const char* obj = "v 0 0 0\nv 4 0 0\nv 5 3 0\nv 2 5 0\nv -1 2 0\nv 0 -3 0\nv 4 -3 0\nf 6 7 2 1\nf 1 2 3 4 5\n";
    const std::string ptex =
        texptex_test::writeIdTexture("scene-pentagon.ptx", true, 6, 6, {false, true, true, true, true, true});
    const std::string s = scene(obj, ptex, 2, true);
    const Outcome r = evaluate(s, "2 0 0 0\n2 1 0 1\n2 0 1 0\n3 0 1 1\n4 0 1 0\n0 0.5 0.5 1\n1 0 1 0\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "info: PTex file \"" + ptex + "\" loaded.\n");
    const std::vector<Rgba> c = colours(r.out);
    ASSERT_EQ(c.size(), 7u) << r.out;
    // Corners 0, 1, 2, 3, 4 of the pentagon: sub-face k at (0, 0).
    const int expectedFace[5] = {1, 2, 3, 4, 5};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(c[k].r, expectedFace[k]) << "corner " << k;
        EXPECT_EQ(c[k].g, kTexelCentre) << "corner " << k;
        EXPECT_EQ(c[k].b, kTexelCentre) << "corner " << k;
        // Defaults: colour space 1 with gamma 1 leaves the colour; alpha is its luminance.
        EXPECT_NEAR(c[k].a, 0.3 * c[k].r + 0.59 * c[k].g + 0.11 * c[k].b, 1e-6) << "corner " << k;
    }
    // The quad's middle (4, -1.5): u = 1 along corner 0 -> 1 is at (4, -3) -> (4, 0).
    EXPECT_EQ(c[5].r, 0);
    EXPECT_NEAR(c[5].g, 1.0, 1.0 / 64);
    EXPECT_NEAR(c[5].b, 0.5, 1.0 / 64);
    // Quad corner 3 (0, 0) from the second render triangle.
    EXPECT_EQ(c[6].r, 0);
    EXPECT_EQ(c[6].g, kTexelCentre);
    EXPECT_EQ(c[6].b, 1 - kTexelCentre);

    // Several frames give the same answers again.
    const Outcome frames = run(dir, s + " " + dir + "/points.tsv --plugin " + TARSK_PLUGIN_PATH + " --frames 2");
    ASSERT_EQ(frames.exitCode, 0) << frames.err;
    EXPECT_EQ(frames.out, r.out + r.out);
}

TEST_F(TexPtexScene, TriangleFileGivesTheHitTriangleAndItsCoordinates)
{
    const char* obj = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n";
    const std::string ptex = texptex_test::writeIdTexture("scene-triangles.ptx", false, 2, 6);
    const Outcome r = evaluate(scene(obj, ptex, 1, false), "0 1 0\n0 0 1\n1 0.25 0.5\n1 0 0\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<Rgba> c = colours(r.out);
    ASSERT_EQ(c.size(), 4u) << r.out;
    const double expected[4][3] = {{0, 1, 0}, {0, 0, 1}, {1, 0.25, 0.5}, {1, 0, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(c[i].r, expected[i][0]) << "point " << i;
        EXPECT_NEAR(c[i].g, expected[i][1], 1.0 / 64) << "point " << i;
        EXPECT_NEAR(c[i].b, expected[i][2], 1.0 / 64) << "point " << i;
    }
}

TEST_F(TexPtexScene, MissingFileIsOneErrorMessageAndWhite)
{
    const char* obj = "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n";
    const std::string missing = dir + "/absent.ptx";
    const Outcome logged = evaluate(scene(obj, missing, 1, true), "0 0.25 0.25\n");
    ASSERT_EQ(logged.exitCode, 0) << logged.err;
    EXPECT_EQ(logged.out, "1 1 1 1\n");
    EXPECT_EQ(logged.err.rfind("error: ", 0), 0u) << logged.err;
    EXPECT_NE(logged.err.find("absent.ptx"), std::string::npos) << logged.err;
    EXPECT_EQ(logged.err.find("loaded"), std::string::npos) << logged.err;
    // One message from the plug-in; tarsk-eval's summary at the end repeats it.
    const std::string messages = logged.err.substr(0, logged.err.find("summary: "));
    EXPECT_EQ(messages.find('\n'), messages.size() - 1) << "exactly one message: " << logged.err;
    EXPECT_NE(logged.err.find("summary:   object \"thing\""), std::string::npos) << logged.err;

    const Outcome quiet = evaluate(scene(obj, missing, 1, false), "0 0.25 0.25\n");
    EXPECT_EQ(quiet.out, "1 1 1 1\n");
    EXPECT_EQ(quiet.err, "");
}
