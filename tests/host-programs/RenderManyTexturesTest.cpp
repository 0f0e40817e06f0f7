// A scene of 1500 objects, each with a Ptex file of its own, rendered by tarsk-render under a
// descriptor limit of 64: every texture loads and reads (no error, --strict passes), and the
// image is the one rendered without the limit. The Ptex library keeps its open files within a
// quarter of the limit, closing and reopening handles as the render needs them.
#include "HostTestSupport.h"

#include <Ptexture.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace tarsk::test;

namespace {

constexpr int kColumns = 50, kRows = 30;

// One quad face of 4 x 4 texels whose colours tell object `index` apart.
void writeObjectTexture(const std::string& path, int index)
{
    Ptex::String error;
    PtexPtr<PtexWriter> writer(PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 1, error));
    ASSERT_TRUE(writer) << error;
    uint8_t texels[16 * 3];
    for (int t = 0; t < 16; ++t) {
        texels[3 * t + 0] = uint8_t((index * 37 + t * 5) % 256);
        texels[3 * t + 1] = uint8_t((index * 11) % 256);
        texels[3 * t + 2] = uint8_t(255 - (index * 3 + t) % 200);
    }
    ASSERT_TRUE(writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(2, 2)), texels));
    ASSERT_TRUE(writer->close(error)) << error;
}

std::string writeScene(const std::string& dir)
{
    writeFile(dir + "/quad.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
    std::string objects;
    for (int i = 0; i < kColumns * kRows; ++i) {
        const std::string name = "tex" + std::to_string(i) + ".ptx";
        writeObjectTexture(dir + "/" + name, i);
        const std::string x = std::to_string(1.1 * (i % kColumns)), y = std::to_string(1.1 * (i / kColumns));
        objects += std::string(i ? ",\n" : "") + "  {\"name\": \"o" + std::to_string(i) + "\", \"transform\": [1,0,0," +
                   x + ", 0,1,0," + y +
                   ", 0,0,1,0, 0,0,0,1], \"mesh\": {\"obj\": \"quad.obj\"}, \"texture\": {\"type\": \"TexPtex\", "
                   "\"ptex_file\": \"" +
                   name + "\", \"filter_type\": 1}}";
    }
    const std::string path = dir + "/scene.json";
    writeFile(path,
              "{\"renderer\": {\"threads\": 2, \"message_log\": true},\n"
              " \"camera\": {\"position\": [27.5, 16.5, 50], \"look_at\": [27.5, 16.5, 0], \"fov_deg\": 40},\n"
              " \"image\": {\"width\": 200, \"height\": 120, \"spp\": 1}, \"shading\": \"unlit\",\n"
              " \"objects\": [\n" +
                  objects + "]}\n");
    return path;
}

}  // namespace

TEST(RenderManyTextures, FifteenHundredFilesRenderTheSameImageUnderADescriptorLimitOf64)
{
    if (renderProgram().empty()) GTEST_SKIP() << "tarsk-render is not built";
    const std::string dir = scratchFolder("RenderManyTextures");
    const std::string scene = writeScene(dir);
    if (::testing::Test::HasFatalFailure()) return;

    const std::vector<std::string> render = {renderProgram(), scene, "--quiet", "--strict", "--plugin", pluginPath()};
    std::vector<std::string> free = render, limited = {"/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" \"$@\""};
    free.insert(free.end(), {"-o", dir + "/free.png"});
    limited.insert(limited.end(), render.begin(), render.end());
    limited.insert(limited.end(), {"-o", dir + "/limited.png"});

    const CommandResult a = runCommand(free);
    ASSERT_EQ(a.exitCode, 0) << a.err;
    const CommandResult b = runCommand(limited);
    ASSERT_EQ(b.exitCode, 0) << b.err;
    EXPECT_EQ(b.err.find("Too many open files"), std::string::npos) << b.err;
    EXPECT_EQ(b.err.find("rror"), std::string::npos) << b.err;
    const std::string freeImage = readFile(dir + "/free.png"), limitedImage = readFile(dir + "/limited.png");
    ASSERT_FALSE(freeImage.empty());
    EXPECT_TRUE(freeImage == limitedImage) << "the images differ";
}
