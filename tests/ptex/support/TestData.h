// Where the tests find the reference Ptex files (read-only) and where they may write scratch files.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tarsk::test {

// Folder of the reference Ptex files and manifests; may not exist on every machine.
inline std::string testDataDir() { return TARSK_TESTDATA_DIR; }

// A folder under the build tree for files that tests write, one per test: CTest runs the tests
// in parallel, and two tests that wrote the same path would read each other's files.
inline std::string scratchDir()
{
    std::string dir = std::string(TARSK_BUILD_DIR) + "/test-scratch";
    if (const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info())
        dir += std::string("/") + test->test_suite_name() + "." + test->name();
    return dir;
}

}  // namespace tarsk::test
