// tarsk-plugins, run as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct CliRun {
    int exitCode;
    std::string output;  // stdout and stderr together
};

CliRun run(const std::string& arguments)
{
    const std::string command = std::string("'") + TARSK_PLUGINS_PROGRAM + "' " + arguments + " 2>&1";
    CliRun result{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(TarskPluginsCli, ListsTheTexPtexType)
{
    const CliRun listed = run(std::string("'") + TEXPTEX_MODULE + "'");
    EXPECT_EQ(listed.exitCode, 0) << listed.output;
    const char* expected[] = {
        "description: Ptex texture for Tarsk",
        "type \"TexPtex\"",
        "id: 20100607000 (0x4AE16EC18)",
        "0x7776FFFF  EXT_TARSK_PLUGIN",
        "0x77780002  EXT_TEXTURE",
        "parameters (22):",
        "ptex_file         string         \"\"",
        "width             float          1.0       -1",
        "gamma             float          1.0       -1       (none)",
        "vertices          vector list    -         0",
        "origFacesDegree   int list",
        "color             texture output",
    };
    for (const char* line : expected)
        EXPECT_TRUE(contains(listed.output, line)) << "missing: " << line << "\n" << listed.output;
    EXPECT_FALSE(contains(listed.output, "EXT_GEOMETRY_TRANSFORM"));
}

TEST(TarskPluginsCli, ReportsLibrariesItCannotLoad)
{
    const CliRun missing = run("/nonexistent/tarsk_Nothing.so");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(contains(missing.output, "/nonexistent/tarsk_Nothing.so")) << missing.output;

    // One bad library does not stop the others from being listed.
    const CliRun mixed = run(std::string("'") + NOENTRY_MODULE + "' '" + TEXPTEX_MODULE + "'");
    EXPECT_EQ(mixed.exitCode, 1);
    EXPECT_TRUE(contains(mixed.output, "getLibDesc")) << mixed.output;
    EXPECT_TRUE(contains(mixed.output, "type \"TexPtex\"")) << mixed.output;

    EXPECT_EQ(run("").exitCode, 2) << "no argument: usage";
}
