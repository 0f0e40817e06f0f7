// Bad arguments to the writer: the exact messages, which call reports them, that a failed close
// leaves no file (and no stray temporary), and that nothing crashes on hostile input.
#include "TestData.h"

#include <Ptexture.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

namespace {

namespace fs = std::filesystem;

std::string scratchPath(const std::string& name)
{
    fs::create_directories(tarsk::test::scratchDir());
    return tarsk::test::scratchDir() + "/writer_errors_" + name;
}

TEST(WriterErrors, OpenRejectsBadArguments)
{
    struct Case {
        int mt, dt, nchannels, alphachan, nfaces;
        const char* message;
    };
    const Case cases[] = {
        {2, 0, 1, -1, 1, "PtexWriter error: Invalid mesh type"},
        {-1, 0, 1, -1, 1, "PtexWriter error: Invalid mesh type"},
        {1, 4, 1, -1, 1, "PtexWriter error: Invalid data type"},
        {1, 0, 0, -1, 1, "PtexWriter error: Invalid number of channels"},
        {1, 0, 65536, -1, 1, "PtexWriter error: Invalid number of channels"},
        {1, 0, 3, 3, 1, "PtexWriter error: Invalid alpha channel"},
        {1, 0, 3, -2, 1, "PtexWriter error: Invalid alpha channel"},
        {1, 0, 3, -1, 0, "PtexWriter error: Invalid number of faces"},
        {1, 0, 3, -1, -5, "PtexWriter error: Invalid number of faces"},
    };
    const std::string path = scratchPath("args.ptx");
    for (const Case& c : cases) {
        for (bool edit : {false, true}) {
            Ptex::String error = "untouched";
            PtexWriter* writer = edit
                                     ? PtexWriter::edit(path.c_str(), false, Ptex::MeshType(c.mt), Ptex::DataType(c.dt),
                                                        c.nchannels, c.alphachan, c.nfaces, error)
                                     : PtexWriter::open(path.c_str(), Ptex::MeshType(c.mt), Ptex::DataType(c.dt),
                                                        c.nchannels, c.alphachan, c.nfaces, error);
            EXPECT_EQ(writer, nullptr);
            EXPECT_EQ(error, c.message);
        }
    }
    EXPECT_FALSE(fs::exists(path));
}

// Opens a writer for a 2-face uint8 RGB quad file at `path`.
PtexWriter* openQuad(const std::string& path, Ptex::MeshType mt = Ptex::mt_quad)
{
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), mt, Ptex::dt_uint8, 3, -1, 2, error);
    EXPECT_TRUE(writer) << error;
    return writer;
}

// Closes and releases; returns the close error ("" on success).
std::string closeWith(PtexWriter* writer)
{
    Ptex::String error;
    const bool ok = writer->close(error);
    writer->release();
    return ok ? std::string() : error;
}

TEST(WriterErrors, FaceErrorsAreRecordedAndFailTheClose)
{
    const std::string path = scratchPath("faces.ptx");
    const std::string suffix = "\nPtex file: " + path;
    const uint8_t texels[64 * 3] = {1, 2, 3, 4};
    struct Case {
        int faceid;
        Ptex::Res res;
        int adjacent;
        bool nullData;
        Ptex::MeshType mt;
        const char* message;
    };
    const Case cases[] = {
        {2, Ptex::Res(1, 1), -1, false, Ptex::mt_quad, "PtexWriter error: faceid out of range"},
        {-1, Ptex::Res(1, 1), -1, false, Ptex::mt_quad, "PtexWriter error: faceid out of range"},
        {0, Ptex::Res(-1, 1), -1, false, Ptex::mt_quad, "PtexWriter error: invalid face resolution"},
        {0, Ptex::Res(15, 15), -1, false, Ptex::mt_quad, "PtexWriter error: invalid face resolution"},
        {0, Ptex::Res(100, 0), -1, false, Ptex::mt_quad, "PtexWriter error: invalid face resolution"},
        {0, Ptex::Res(1, 1), 2, false, Ptex::mt_quad, "PtexWriter error: adjacent face id out of range"},
        {0, Ptex::Res(1, 1), -1, true, Ptex::mt_quad, "PtexWriter error: null face data"},
        // The resolution being written is checked, also on a face's first write.
        {0, Ptex::Res(2, 1), -1, false, Ptex::mt_triangle,
         "PtexWriter error: asymmetric face res not supported for triangle textures"},
    };
    for (const Case& c : cases) {
        for (bool constant : {false, true}) {
            fs::remove(path);
            PtexWriter* writer = openQuad(path, c.mt);
            Ptex::FaceInfo info(c.res);
            info.adjfaces[1] = c.adjacent;
            const void* data = c.nullData ? nullptr : texels;
            const bool written =
                constant ? writer->writeConstantFace(c.faceid, info, data) : writer->writeFace(c.faceid, info, data);
            EXPECT_FALSE(written) << c.message;
            // Once an error is recorded, further writes are refused.
            EXPECT_FALSE(writer->writeFace(1, Ptex::FaceInfo(Ptex::Res(1, 1)), texels));
            EXPECT_EQ(closeWith(writer), c.message + suffix);
            EXPECT_FALSE(fs::exists(path)) << c.message;
            EXPECT_FALSE(fs::exists(path + ".new"));
        }
    }

    // Negative neighbour ids other than -1 are accepted and behave as "no neighbour".
    PtexWriter* writer = openQuad(path);
    Ptex::FaceInfo info(Ptex::Res(1, 1));
    info.adjfaces[0] = -9;
    EXPECT_TRUE(writer->writeFace(0, info, texels));
    EXPECT_EQ(closeWith(writer), "");
}

TEST(WriterErrors, MetaDataAndModeErrors)
{
    const std::string path = scratchPath("meta.ptx");
    fs::remove(path);
    const std::string suffix = "\nPtex file: " + path;
    const std::string key255(255, 'k'), key254(254, 'k');
    const int32_t values[2] = {1, 2};

    PtexWriter* writer = openQuad(path);
    writer->writeMeta(key255.c_str(), "x");
    EXPECT_EQ(closeWith(writer), "PtexWriter error: meta data key too long (max=254) \"" + key255 + "\"" + suffix);

    writer = openQuad(path);
    writer->writeMeta("count", values, 0);
    EXPECT_EQ(closeWith(writer), "PtexWriter error: meta data size <= 0 for \"count\"" + suffix);
    writer = openQuad(path);
    writer->writeMeta("negative", values, -3);
    EXPECT_EQ(closeWith(writer), "PtexWriter error: meta data size <= 0 for \"negative\"" + suffix);
    writer = openQuad(path);
    writer->writeMeta("null", static_cast<const double*>(nullptr), 4);
    EXPECT_EQ(closeWith(writer), "PtexWriter error: meta data size <= 0 for \"null\"" + suffix);
    writer = openQuad(path);
    writer->writeMeta("nullstring", static_cast<const char*>(nullptr));
    EXPECT_EQ(closeWith(writer), "PtexWriter error: meta data size <= 0 for \"nullstring\"" + suffix);

    // The most recent error is the one reported.
    writer = openQuad(path);
    const uint8_t texel[3] = {};
    writer->writeConstantFace(7, Ptex::FaceInfo(), texel);
    writer->writeMeta("late", values, 0);
    EXPECT_EQ(closeWith(writer), "PtexWriter error: meta data size <= 0 for \"late\"" + suffix);

    writer = openQuad(path);
    writer->setBorderModes(Ptex::BorderMode(3), Ptex::m_clamp);
    EXPECT_EQ(closeWith(writer), "PtexWriter error: invalid border mode" + suffix);
    writer = openQuad(path);
    writer->setEdgeFilterMode(Ptex::EdgeFilterMode(2));
    EXPECT_EQ(closeWith(writer), "PtexWriter error: invalid edge filter mode" + suffix);
    EXPECT_FALSE(fs::exists(path));

    writer = openQuad(path);
    writer->writeMeta(key254.c_str(), values, 2);
    EXPECT_EQ(closeWith(writer), "");
    EXPECT_TRUE(fs::exists(path));
}

TEST(WriterErrors, CloseTwiceAndUnwritableTargets)
{
    const std::string path = scratchPath("close.ptx");
    PtexWriter* writer = openQuad(path);
    Ptex::String error;
    EXPECT_TRUE(writer->close(error));
    EXPECT_FALSE(writer->close(error));
    EXPECT_EQ(error, "PtexWriter error: writer already closed");
    writer->release();

    // A missing directory is noticed at close.
    const std::string missing = scratchPath("nodir") + "/x.ptx";
    writer = openQuad(missing);
    EXPECT_EQ(closeWith(writer),
              "Can't write to ptex file: " + missing + ".new\nNo such file or directory\nPtex file: " + missing);

    // The target is a non-empty directory: the rename fails, nothing is left behind.
    const std::string dirTarget = scratchPath("dir_target.ptx");
    fs::create_directories(dirTarget + "/inside");
    writer = openQuad(dirTarget);
    const std::string message = closeWith(writer);
    EXPECT_EQ(message.rfind("Can't write to ptex file: " + dirTarget + "\n", 0), 0u) << message;
    EXPECT_FALSE(fs::exists(dirTarget + ".new"));
    EXPECT_TRUE(fs::is_directory(dirTarget));

    // A successful close replaces an existing file in one step.
    std::ofstream(path) << "old content";
    writer = openQuad(path);
    EXPECT_EQ(closeWith(writer), "");
    std::ifstream in(path, std::ios::binary);
    const std::string head(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(head.substr(0, 4), "Ptex");
}

}  // namespace
