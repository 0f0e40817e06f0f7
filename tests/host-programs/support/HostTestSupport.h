// Helpers for the host-program tests: paths of the programs and the plug-in under test, a scratch
// folder per test, and running a command line with its exit code, stdout and stderr captured.
#pragma once

#include <string>
#include <vector>

namespace tarsk::test {

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs `args` (no shell; arguments passed as they are) and waits for it. With `stdoutPath` its
// standard output goes to that file (e.g. /dev/full) instead of `out`.
CommandResult runCommand(const std::vector<std::string>& args, const std::string& stdinText = "",
                         const std::string& stdoutPath = "");

// A fresh, empty folder under the build tree for the calling test.
std::string scratchFolder(const std::string& name);

void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

std::vector<std::string> splitLines(const std::string& text);

inline std::string evalProgram() { return TARSK_EVAL_PATH; }
inline std::string bakeProgram() { return PTEX_BAKE_PATH; }
inline std::string renderProgram() { return TARSK_RENDER_PATH; }
inline std::string infoProgram() { return PTEX_INFO_PATH; }
inline std::string ptexEvalProgram() { return PTEX_EVAL_PATH; }
inline std::string pluginsProgram() { return TARSK_PLUGINS_PATH; }
inline std::string pluginPath() { return TARSK_PLUGIN_PATH; }
inline std::string testDataDir() { return TARSK_TESTDATA_DIR; }
bool haveTestData();

}  // namespace tarsk::test
