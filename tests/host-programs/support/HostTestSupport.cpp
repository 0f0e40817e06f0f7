#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tarsk::test {

namespace fs = std::filesystem;

CommandResult runCommand(const std::vector<std::string>& args, const std::string& stdinText,
                         const std::string& stdoutPath)
{
    // Output goes through files so that neither pipe can fill up and block the child.
    fs::path dir = fs::temp_directory_path() / ("tarsk-host-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    static int counter = 0;
    std::string stem = (dir / std::to_string(counter++)).string();
    std::string inPath = stem + ".in", outPath = stem + ".out", errPath = stem + ".err";
    writeFile(inPath, stdinText);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.empty() ? outPath.c_str() : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    CommandResult result;
    if (rc != 0) {
        result.err = "cannot start " + args[0];
        return result;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    fs::remove(inPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return result;
}

std::string scratchFolder(const std::string& name)
{
    fs::path dir = fs::path(TARSK_BUILD_DIR) / "test-scratch" / "host-programs" / name;
    // CTest runs the tests in parallel: each test gets its own folder under `name`.
    if (const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info())
        dir /= std::string(test->test_suite_name()) + "." + test->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool haveTestData() { return fs::is_directory(testDataDir()) && fs::exists(testDataDir() + "/quad_grid_u8.ptx"); }

}  // namespace tarsk::test
