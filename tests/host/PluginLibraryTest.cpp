// The loader's refusals: every bad library gives a message naming the path and the cause.
#include "PluginLibrary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using TUtils::TarskPluginHost;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(PluginLibrary, RefusesWhatIsNoWorkingPluginLibrary)
{
    TarskPluginHost host;
    std::string error;

    EXPECT_EQ(PluginLibrary::load("/nonexistent/folder/tarsk_Missing.so", host, error), nullptr);
    EXPECT_TRUE(contains(error, "/nonexistent/folder/tarsk_Missing.so")) << error;
    EXPECT_TRUE(contains(error, "No such file")) << "the system's own text: " << error;

    EXPECT_EQ(PluginLibrary::load(NOENTRY_MODULE, host, error), nullptr);
    EXPECT_TRUE(contains(error, NOENTRY_MODULE)) << error;
    EXPECT_TRUE(contains(error, "getLibDesc")) << error;

    EXPECT_EQ(PluginLibrary::load(EMPTYLIB_MODULE, host, error), nullptr);
    EXPECT_TRUE(contains(error, "registers no plug-in")) << error;

    // A file that is not a shared library at all.
    const std::string junk = ::testing::TempDir() + "tarsk_junk.so";
    std::ofstream(junk) << "not an ELF file";
    EXPECT_EQ(PluginLibrary::load(junk, host, error), nullptr);
    EXPECT_TRUE(contains(error, junk)) << error;

    EXPECT_EQ(PluginLibrary::load("", host, error), nullptr);
    EXPECT_FALSE(error.empty());
    // A bare name means a file in the current folder, not a library on the search path.
    EXPECT_EQ(PluginLibrary::load("libc.so.6", host, error), nullptr);
    EXPECT_TRUE(host.entries().empty()) << "nothing stays registered after a refusal";
}
