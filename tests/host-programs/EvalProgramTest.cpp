// tarsk-eval as a user runs it: scenes and POINTS files on disk, the real plug-in loaded through
// the host loader. Checks the output format, that render threads and frames do not change the
// answers, the neutral answer for a missing Ptex file, and one clear error line for bad input.
#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>

using namespace tarsk::test;

namespace {

// A quad and a triangle next to it, as OBJ; the quad-type test file has one face per quad.
const char* kObj =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\n"
    "f 1 2 3 4\nf 2 5 3\n";

std::string sceneText(const std::string& ptexFile, int threads, bool messageLog, const std::string& extra = "")
{
    return "{\"renderer\": {\"threads\": " + std::to_string(threads) +
           ", \"frame_time\": 0, \"message_log\": " + (messageLog ? "true" : "false") +
           "},\n \"objects\": [{\"name\": \"quad\", \"transform\": [1,0,0,0.5, 0,0,-1,0, 0,1,0,0, 0,0,0,1],\n" +
           "  \"mesh\": {\"obj\": \"mesh.obj\"},\n  \"texture\": {\"type\": \"TexPtex\", \"ptex_file\": \"" + ptexFile +
           "\", \"filter_type\": 2" + extra + "}}]}\n";
}

class EvalProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        writeFile(dir + "/mesh.obj", kObj);
        ptex = haveTestData() ? testDataDir() + "/quad_grid_u8.ptx" : dir + "/absent.ptx";
    }

    std::string scene(const std::string& text, const std::string& name = "scene.json")
    {
        writeFile(dir + "/" + name, text);
        return dir + "/" + name;
    }

    // POINTS rows for `requests` ("face wA wB [thread]" lines) made by tarsk-eval itself.
    std::string makePoints(const std::string& scenePath, const std::string& requests)
    {
        CommandResult made =
            runCommand({evalProgram(), "--make-points", scenePath, "-", "--footprint", "0.05"}, requests);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        std::string path = dir + "/points" + std::to_string(counter++) + ".tsv";
        writeFile(path, made.out);
        return path;
    }

    CommandResult eval(const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {evalProgram()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("--plugin");
        args.push_back(pluginPath());
        return runCommand(args);
    }

    std::string dir;
    std::string ptex;
    int counter = 0;
};

std::vector<std::vector<double>> parseColors(const std::string& out)
{
    std::vector<std::vector<double>> colors;
    for (const std::string& line : splitLines(out)) {
        std::istringstream in(line);
        std::vector<double> c;
        for (std::string field; in >> field;) {
            char* end = nullptr;
            c.push_back(std::strtod(field.c_str(), &end));
            EXPECT_EQ(*end, '\0') << "not a number: " << field;
        }
        EXPECT_EQ(c.size(), 4u) << line;
        colors.push_back(c);
    }
    return colors;
}

const char* kRequests = "0 0.2 0.3\n1 0.6 0.1\n2 0.3 0.3\n0 0.9 0.05\n1 0.01 0.98\n2 0.5 0.25\n";

}  // namespace

TEST_F(EvalProgram, PrintsOneColourPerPointPerFrame)
{
    std::string s = scene(sceneText(ptex, 1, false));
    std::string points = makePoints(s, kRequests);
    CommandResult r = eval({s, points, "--frames", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::vector<double>> colors = parseColors(r.out);
    ASSERT_EQ(colors.size(), 18u);
    for (size_t i = 0; i < colors.size(); ++i) {
        for (double v : colors[i])
            EXPECT_TRUE(std::isfinite(v) && v >= 0 && v <= 1) << "point " << i % 6 << " channel value " << v;
        // Nothing is keyed, so every frame answers the same.
        EXPECT_EQ(colors[i], colors[i % 6]) << "frame " << i / 6 << " point " << i % 6;
    }
    EXPECT_EQ(r.err, "");
}

TEST_F(EvalProgram, RenderThreadsAndRepeatsDoNotChangeAnswers)
{
    std::string one = scene(sceneText(ptex, 1, false), "one.json");
    std::string two = scene(sceneText(ptex, 2, false), "two.json");
    // The same points twice: once all on thread 0, once alternating between threads 0 and 1,
    // and every point repeated so the second request can come from the result cache.
    std::string serial, split;
    std::istringstream in(kRequests);
    int i = 0;
    for (std::string line; std::getline(in, line); ++i) {
        serial += line + " 0\n" + line + " 0\n";
        split += line + " " + std::to_string(i % 2) + "\n" + line + " " + std::to_string(i % 2) + "\n";
    }
    CommandResult a = eval({one, makePoints(one, serial)});
    CommandResult b = eval({two, makePoints(two, split)});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(a.out, b.out);
    std::vector<std::string> lines = splitLines(a.out);
    ASSERT_EQ(lines.size(), 12u);
    for (size_t k = 0; k < lines.size(); k += 2)
        EXPECT_EQ(lines[k], lines[k + 1]) << "a repeated point answered differently";
}

TEST_F(EvalProgram, MissingPtexFileGivesTheNeutralAnswerAndLogsOnStderr)
{
    std::string logged = scene(sceneText(dir + "/absent.ptx", 2, true), "logged.json");
    std::string quiet = scene(sceneText(dir + "/absent.ptx", 2, false), "quiet.json");
    std::string points = makePoints(logged, "0 0.2 0.3 0\n1 0.5 0.4 1\n");
    for (const std::string& s : {logged, quiet}) {
        CommandResult r = eval({s, points, "--frames", "2"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n");
        for (const std::string& line : splitLines(r.err))
            EXPECT_TRUE(line.rfind("error: ", 0) == 0 || line.rfind("info: ", 0) == 0 ||
                        line.rfind("summary: ", 0) == 0)
                << line;
        if (s == quiet) {
            EXPECT_EQ(r.err, "") << "a renderer without a message log shows no messages";
        }
    }
}

TEST_F(EvalProgram, BadInputGivesOneErrorLineAndFails)
{
    std::string good = scene(sceneText(ptex, 2, false));
    std::string points = makePoints(good, "0 0.2 0.3 1\n");
    writeFile(dir + "/short.tsv", "thread flags\n0 0\n");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"malformed JSON", {scene("{\"objects\": [", "bad.json"), points}, "bad.json:1:13: malformed JSON"},
        {"unknown parameter",
         {scene(sceneText(ptex, 2, false, ", \"fliter_type\": 1"), "unknown.json"), points},
         "objects[0].texture.fliter_type: unknown parameter \"fliter_type\" of TexPtex"},
        {"wrong type",
         {scene(sceneText(ptex, 2, false, ", \"width\": \"wide\""), "type.json"), points},
         "objects[0].texture.width: expected a number, got string"},
        {"bool given as a number",
         {scene(sceneText(ptex, 2, false, ", \"lerp\": 1"), "bool.json"), points},
         "objects[0].texture.lerp: expected true or false"},
        {"unknown texture type",
         {scene("{\"renderer\": {\"threads\": 2}, \"objects\": [{\"mesh\": {\"obj\": \"mesh.obj\"}, \"texture\": "
                "{\"type\": \"TexFoo\"}}]}",
                "type2.json"),
          points},
         "objects[0].texture.type: no plug-in type \"TexFoo\""},
        {"missing OBJ",
         {scene("{\"objects\": [{\"mesh\": {\"obj\": \"gone.obj\"}, \"texture\": {\"type\": \"TexPtex\"}}]}",
                "obj.json"),
          points},
         "objects[0].mesh.obj: cannot open OBJ file"},
        {"thread beyond the renderer's",
         {scene(sceneText(ptex, 1, false), "single.json"), points},
         "names thread 1 but the renderer has 1 thread(s)"},
        {"missing points file", {good, dir + "/none.tsv"}, "cannot open points file"},
        {"short points row", {good, dir + "/short.tsv"}, "expected the header line"},
        {"unknown object", {good, points, "--object", "nobody"}, "no object named \"nobody\""},
        {"bad frame count", {good, points, "--frames", "0"}, "--frames takes an integer"},
        {"unknown option", {good, points, "--fast"}, "unknown option '--fast'"},
    };
    for (const Case& c : cases) {
        CommandResult r = eval(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_TRUE(r.err.rfind("error: ", 0) == 0) << c.what << ": " << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << c.what << ": " << r.err;
    }
    CommandResult noPlugin = runCommand({evalProgram(), good, points, "--plugin", dir + "/missing.so"});
    EXPECT_EQ(noPlugin.exitCode, 1);
    EXPECT_NE(noPlugin.err.find("error: cannot load plug-in"), std::string::npos) << noPlugin.err;
}
