// Where the tests find the reference Ptex files (read-only) and where they may write scratch files.
#pragma once

#include <string>

namespace tarsk::test {

// Folder of the reference Ptex files and manifests; may not exist on every machine.
inline std::string testDataDir() { return TARSK_TESTDATA_DIR; }

// A folder under the build tree for files that tests write.
inline std::string scratchDir() { return std::string(TARSK_BUILD_DIR) + "/test-scratch"; }

}  // namespace tarsk::test
