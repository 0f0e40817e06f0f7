// Textures that do not load (here: a misspelled Ptex file name) must not pass unnoticed among
// other messages: tarsk-eval and tarsk-render list them again in a summary at the end, and with
// --strict any texture error makes them exit 1, tarsk-render without writing an image.
#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarsk::test;
namespace fs = std::filesystem;

namespace {

const char* kObj = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n";

class TextureFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
        writeFile(dir + "/mesh.obj", kObj);
    }

    // Two objects: "plain" without a file, "typo" whose file name is misspelled.
    std::string scene(bool messageLog)
    {
        std::string path = dir + (messageLog ? "/logged.json" : "/quiet.json");
        writeFile(path, std::string("{\"renderer\": {\"threads\": 1, \"message_log\": ") +
                            (messageLog ? "true" : "false") +
                            "},\n \"camera\": {\"position\": [0.5, 0.5, 3], \"look_at\": [0.5, 0.5, 0]},\n"
                            " \"image\": {\"width\": 8, \"height\": 8},\n \"objects\": [\n"
                            "  {\"name\": \"plain\", \"mesh\": {\"obj\": \"mesh.obj\"}, \"texture\": {\"type\": "
                            "\"TexPtex\"}},\n"
                            "  {\"name\": \"typo\", \"mesh\": {\"obj\": \"mesh.obj\"}, \"texture\": {\"type\": "
                            "\"TexPtex\", \"ptex_file\": \"checker.ptxx\"}}]}\n");
        return path;
    }

    std::string points(const std::string& scenePath)
    {
        CommandResult made =
            runCommand({evalProgram(), "--make-points", scenePath, "-", "--object", "typo"}, "0 0.2 0.3\n1 0.5 0.1\n");
        EXPECT_EQ(made.exitCode, 0) << made.err;
        writeFile(dir + "/points.tsv", made.out);
        return dir + "/points.tsv";
    }

    std::string dir;
};

// The summary's lines, in order.
std::vector<std::string> summaryLines(const std::string& err)
{
    std::vector<std::string> lines;
    for (const std::string& line : splitLines(err))
        if (line.rfind("summary: ", 0) == 0 && line.find("texture error") != std::string::npos)
            lines.clear();
        else if (line.rfind("summary:   ", 0) == 0)
            lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(TextureFault, TarskEvalListsThemAtTheEndAndStrictFails)
{
    std::string s = scene(true);
    std::string p = points(s);
    CommandResult r = runCommand({evalProgram(), s, p, "--object", "typo", "--frames", "3", "--plugin", pluginPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n1 1 1 1\n");
    std::vector<std::string> lines = summaryLines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    // Every object of the scene is loaded, so both faults show, each once with its count.
    EXPECT_EQ(lines[0].rfind("summary:   object \"plain\" (" + s + ": objects[0]) at frame 0: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("(and 2 more time(s))"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1].rfind("summary:   object \"typo\" (" + s + ": objects[1]) at frame 0: ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(dir + "/checker.ptxx"), std::string::npos) << lines[1];
    EXPECT_NE(r.err.find("summary: 2 texture error(s)"), std::string::npos) << r.err;

    CommandResult strict = runCommand({evalProgram(), s, p, "--strict", "--plugin", pluginPath()});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(strict.out, "") << "no colours are printed for a frame whose texture did not load";
    EXPECT_EQ(summaryLines(strict.err).size(), 2u) << strict.err;
    std::vector<std::string> errLines = splitLines(strict.err);
    ASSERT_FALSE(errLines.empty());
    EXPECT_EQ(errLines.back(), "error: --strict: the scene's textures reported 2 error(s), listed above");

    // A renderer without a message log cannot see texture errors; --strict says so.
    CommandResult blind = runCommand({evalProgram(), scene(false), p, "--strict", "--plugin", pluginPath()});
    EXPECT_EQ(blind.exitCode, 1);
    EXPECT_NE(blind.err.find("error: --strict needs the renderer's message log"), std::string::npos) << blind.err;
}

TEST_F(TextureFault, TarskRenderListsThemEvenWhenQuietAndStrictWritesNoImage)
{
    if (renderProgram().empty()) GTEST_SKIP() << "tarsk-render is not built";
    std::string s = scene(true);
    const std::string image = dir + "/out.png";
    CommandResult r = runCommand({renderProgram(), s, "-o", image, "--quiet", "--plugin", pluginPath()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(image));
    std::vector<std::string> lines = summaryLines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_NE(lines[1].find("object \"typo\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("checker.ptxx"), std::string::npos) << lines[1];

    fs::remove(image);
    CommandResult strict =
        runCommand({renderProgram(), s, "-o", image, "--quiet", "--strict", "--plugin", pluginPath()});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_FALSE(fs::exists(image)) << "a frame whose texture did not load was rendered";
    EXPECT_EQ(summaryLines(strict.err).size(), 2u) << strict.err;
    EXPECT_NE(strict.err.find("error: --strict: the scene's textures reported 2 error(s)"), std::string::npos)
        << strict.err;
}
