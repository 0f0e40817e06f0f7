// ptex-info run as a program: --json on every reference file equals its manifest (integers,
// strings and hashes exactly, floats to 9 significant digits); the text report names the
// header, faces and meta data; unreadable files give a non-zero status and one error line.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs ptex-info in the test data folder (paths in error texts are as given), capturing
// standard output, or standard error with stderrToOut.
RunResult runInfo(const std::string& args, bool stderrToOut = false)
{
    std::string command = "cd '" + std::string(TARSK_TESTDATA_DIR) + "' && '" + PTEX_INFO_PATH + "' " + args +
                          (stderrToOut ? " 2>&1 >/dev/null" : " 2>/dev/null");
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.out.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool haveTestData() { return fs::is_directory(TARSK_TESTDATA_DIR); }

void compare(const json& ours, const json& ref, const std::string& path, std::vector<std::string>& mismatches)
{
    if (mismatches.size() >= 8) return;
    auto mismatch = [&]() {
        mismatches.push_back(path + ": ours " + ours.dump().substr(0, 120) + ", reference " +
                             ref.dump().substr(0, 120));
    };
    if (ref.is_object()) {
        if (!ours.is_object() || ours.size() != ref.size()) return mismatch();
        for (auto it = ref.begin(); it != ref.end(); ++it) {
            if (!ours.contains(it.key())) return mismatch();
            compare(ours[it.key()], it.value(), path + "." + it.key(), mismatches);
        }
    } else if (ref.is_array()) {
        if (!ours.is_array() || ours.size() != ref.size()) return mismatch();
        for (size_t i = 0; i < ref.size(); ++i)
            compare(ours[i], ref[i], path + "[" + std::to_string(i) + "]", mismatches);
    } else if (ref.is_number_float()) {
        if (!ours.is_number()) return mismatch();
        double a = ours.get<double>(), b = ref.get<double>();
        if (std::fabs(a - b) > 1e-7 * std::fabs(b) + 1e-9) mismatch();
    } else if (ours != ref) {
        mismatch();
    }
}

TEST(PtexInfo, JsonReproducesEveryReferenceManifest)
{
    if (!haveTestData()) GTEST_SKIP() << "reference Ptex data not found at " << TARSK_TESTDATA_DIR;
    int files = 0;
    for (const auto& item : fs::directory_iterator(TARSK_TESTDATA_DIR)) {
        if (item.path().extension() != ".ptx") continue;
        const std::string name = item.path().filename().string();
        const fs::path manifest = fs::path(item.path()).replace_extension(".json");
        if (!fs::exists(manifest)) continue;
        ++files;
        RunResult run = runInfo("--json " + name);
        ASSERT_EQ(run.status, 0) << name;
        json ours = json::parse(run.out, nullptr, false);
        ASSERT_FALSE(ours.is_discarded()) << name << ": output is not JSON";
        std::ifstream in(manifest);
        json ref = json::parse(in);
        std::vector<std::string> mismatches;
        compare(ours, ref, name, mismatches);
        EXPECT_TRUE(mismatches.empty()) << [&] {
            std::string all;
            for (const auto& m : mismatches) all += m + "\n";
            return all;
        }();
    }
    EXPECT_GE(files, 10);
}

TEST(PtexInfo, TextReportShowsHeaderFacesAndMetaData)
{
    if (!haveTestData()) GTEST_SKIP() << "reference Ptex data not found at " << TARSK_TESTDATA_DIR;
    RunResult run = runInfo("-f -m meta_u16.ptx");
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("dataType: uint16"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("numFaces: 6"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("face 5:"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("PtexFaceVertCounts (int32)"), std::string::npos) << run.out;

    RunResult plain = runInfo("tri_grid_u8.ptx");
    ASSERT_EQ(plain.status, 0);
    EXPECT_NE(plain.out.find("meshType: triangle"), std::string::npos);
    EXPECT_EQ(plain.out.find("face 0:"), std::string::npos) << "faces are listed only with -f";
}

TEST(PtexInfo, UnreadableFilesFailWithOneErrorLine)
{
    if (!haveTestData()) GTEST_SKIP() << "reference Ptex data not found at " << TARSK_TESTDATA_DIR;
    const char* bad[] = {"bad/missing.ptx",          "bad/empty.ptx",
                         "bad/bad_version.ptx",      "bad/absurd_nfaces.ptx",
                         "bad/trunc_level_data.ptx", "bad/flip_face_data.ptx"};
    for (const char* name : bad) {
        RunResult run = runInfo(std::string("--json ") + name, true);
        EXPECT_NE(run.status, 0) << name;
        ASSERT_FALSE(run.out.empty()) << name;
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << name << ": " << run.out;
        EXPECT_EQ(run.out.rfind("ptex-info: ", 0), 0u) << run.out;
    }
    RunResult missing = runInfo("bad/missing.ptx", true);
    EXPECT_EQ(missing.out, "ptex-info: Can't open ptex file: bad/missing.ptx No such file or directory\n");
}

}  // namespace
