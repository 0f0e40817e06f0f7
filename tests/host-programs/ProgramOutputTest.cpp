// What every command-line program owes its user at the end: --help on standard output with exit
// status 0, naming the texture parameters' values where the program takes textures, and a
// non-zero exit with a message when standard output could not be written (a full disk, here
// /dev/full), never a silent 0.
#include "HostTestSupport.h"
#include "ShadingPoint.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace tarsk::test;
namespace fs = std::filesystem;

namespace {

struct Program {
    std::string name;
    std::string path;
    std::vector<std::string> helpMentions;  // what its help must name
};

std::vector<Program> programs()
{
    const std::vector<std::string> textureValues = {"filter_type", "4 bicubic",   "7 mitchell", "alpha_type",
                                                    "luminance",   "color_space", "2 sRGB"};
    std::vector<Program> all = {
        {"tarsk-eval", evalProgram(), textureValues},
        {"tarsk-render", renderProgram(), textureValues},
        {"ptex-eval", ptexEvalProgram(), {"filter", "0 point", "4 bicubic", "--check"}},
        {"ptex-info", infoProgram(), {"--json", "-f", "-m"}},
        {"tarsk-plugins", pluginsProgram(), {"PLUGIN_LIBRARY.so"}},
    };
    all[1].helpMentions.push_back("render.png");      // its default output name
    all[1].helpMentions.push_back("tarsk-demo.png");  // and the demo's
    std::vector<Program> built;
    for (const Program& p : all)
        if (!p.path.empty()) built.push_back(p);
    return built;
}

const char* kObj = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n";

}  // namespace

TEST(ProgramOutput, HelpGoesToStandardOutputWithStatusZero)
{
    for (const Program& p : programs()) {
        for (const char* option : {"--help", "-h"}) {
            CommandResult r = runCommand({p.path, option});
            EXPECT_EQ(r.exitCode, 0) << p.name << " " << option << ": " << r.err;
            EXPECT_EQ(r.err, "") << p.name << " " << option;
            EXPECT_EQ(r.out.rfind("usage: " + p.name, 0), 0u) << p.name << " " << option << ": " << r.out;
            for (const std::string& mention : p.helpMentions)
                EXPECT_NE(r.out.find(mention), std::string::npos) << p.name << " help does not name " << mention;
        }
    }
}

TEST(ProgramOutput, AFullStandardOutputFailsWithAMessage)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    std::string dir = scratchFolder("ProgramOutput.Full");
    writeFile(dir + "/mesh.obj", kObj);
    writeFile(dir + "/scene.json",
              "{\"renderer\": {\"message_log\": false}, \"objects\": [{\"mesh\": {\"obj\": "
              "\"mesh.obj\"}, \"texture\": {\"type\": \"TexPtex\", \"ptex_file\": \"none.ptx\"}}]}");
    CommandResult made =
        runCommand({evalProgram(), "--make-points", dir + "/scene.json", "-"}, "0 0.2 0.3\n1 0.5 0.1\n");
    ASSERT_EQ(made.exitCode, 0) << made.err;
    writeFile(dir + "/points.tsv", made.out);
    writeFile(dir + "/requests.tsv", "0 0.2 0.3\n");

    std::vector<std::vector<std::string>> commands = {
        {evalProgram(), dir + "/scene.json", dir + "/points.tsv", "--plugin", pluginPath()},
        {evalProgram(), "--make-points", dir + "/scene.json", dir + "/requests.tsv"},
    };
    for (const Program& p : programs()) commands.push_back({p.path, "--help"});
    if (!pluginsProgram().empty()) commands.push_back({pluginsProgram(), pluginPath()});
    if (haveTestData()) {
        const std::string grid = testDataDir() + "/quad_grid_u8";
        if (!infoProgram().empty()) {
            commands.push_back({infoProgram(), "--json", grid + ".ptx"});
            commands.push_back({infoProgram(), "-f", "-m", grid + ".ptx"});
        }
        if (!ptexEvalProgram().empty()) {
            commands.push_back({ptexEvalProgram(), grid + ".ptx", grid + ".filter.tsv"});
            commands.push_back({ptexEvalProgram(), "--check", grid + ".ptx", grid + ".filter.tsv"});
        }
    }
    for (const auto& command : commands) {
        std::string line;
        for (const std::string& arg : command) line += fs::path(arg).filename().string() + " ";
        CommandResult r = runCommand(command, "", "/dev/full");
        EXPECT_EQ(r.exitCode, 1) << line << ": " << r.err;
        // The reason, where stdio still knows it (a write that failed before the last one loses it).
        EXPECT_NE(r.err.find("cannot write standard output: "), std::string::npos) << line << ": " << r.err;
        EXPECT_EQ(splitLines(r.err).size(), 1u) << line << ": " << r.err;
    }
}
