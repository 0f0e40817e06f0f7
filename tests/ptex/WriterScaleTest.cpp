// The writer's output on large, varied files stays byte for byte what it has always been: files
// of tens of thousands of faces (every data type, mixed and rectangular resolutions, constant
// faces, rewrites, faces written out of order, tiled faces, mip-maps on and off, meta data, full
// and incremental edits) are hashed and compared with the hashes of the established output.
#include "TestData.h"

#include "FileBytes.h"

#include <PtexHalf.h>
#include <Ptexture.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <vector>

namespace {

using tarsk::test::readBytes;

std::string scratchPath(const std::string& name)
{
    std::filesystem::create_directories(tarsk::test::scratchDir());
    return tarsk::test::scratchDir() + "/writer_scale_" + name;
}

// FNV-1a over the bytes: a change anywhere in the file changes the hash.
uint64_t fileHash(const std::vector<uint8_t>& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001b3ull;
    return hash;
}

uint32_t mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

// Smooth texels with a little noise, in [0, 1]: real compression work, varied reductions.
float texelValue(int face, int u, int v, int c, int n)
{
    const float ramp = float((u * (c + 1) + v * (3 - c % 3)) % (2 * n + 1)) / float(2 * n + 1);
    const float noise = float(mix(uint32_t(face * 7919 + u * 131 + v * 17 + c)) >> 24) / 255.0f;
    return 0.7f * ramp + 0.3f * noise;
}

std::vector<uint8_t> faceTexels(Ptex::DataType dt, int nchannels, Ptex::Res res, int face)
{
    const int w = res.u(), h = res.v();
    std::vector<float> values(size_t(w) * size_t(h) * size_t(nchannels));
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u)
            for (int c = 0; c < nchannels; ++c)
                values[(size_t(v) * size_t(w) + size_t(u)) * size_t(nchannels) + size_t(c)] =
                    texelValue(face, u, v, c, w > h ? w : h);
    // Some faces carry a constant block (a constant tile where the face is tiled).
    if (face % 5 == 0 && w >= 64 && h >= 64)
        for (int v = 0; v < h / 2; ++v)
            for (int u = 0; u < w / 2; ++u)
                for (int c = 0; c < nchannels; ++c)
                    values[(size_t(v) * size_t(w) + size_t(u)) * size_t(nchannels) + size_t(c)] = 0.25f;
    std::vector<uint8_t> texels(values.size() * size_t(Ptex::DataSize(dt)));
    Ptex::ConvertFromFloat(texels.data(), values.data(), dt, int(values.size()));
    return texels;
}

struct GridFile {
    Ptex::MeshType meshType = Ptex::mt_quad;
    Ptex::DataType dataType = Ptex::dt_uint8;
    int nchannels = 3;
    int alphachan = -1;
    int side = 16;  // faces side x side, grid adjacency
    bool mipmaps = true;
    std::function<Ptex::Res(int)> res;
};

Ptex::FaceInfo gridInfo(const GridFile& g, int f)
{
    const int i = f % g.side, j = f / g.side;
    const int n = g.side * g.side;
    int adjfaces[4] = {j > 0 ? f - g.side : -1, i + 1 < g.side ? f + 1 : -1, f + g.side < n ? f + g.side : -1,
                       i > 0 ? f - 1 : -1};
    int adjedges[4] = {2, 3, 0, 1};
    return Ptex::FaceInfo(g.res(f), adjfaces, adjedges);
}

// Writes the grid in a scrambled order with constant faces, rewrites and stale blocks mixed in.
std::vector<uint8_t> writeGrid(const GridFile& g, const std::string& path)
{
    const int n = g.side * g.side;
    Ptex::String error;
    PtexWriter* writer =
        PtexWriter::open(path.c_str(), g.meshType, g.dataType, g.nchannels, g.alphachan, n, error, g.mipmaps);
    EXPECT_TRUE(writer) << error;
    if (!writer) return {};
    const int pixelSize = Ptex::DataSize(g.dataType) * g.nchannels;
    // A stride coprime with n visits every face once, far from face id order.
    int stride = 7919 % n;
    while (stride == 0 || std::gcd(stride, n) != 1) ++stride;
    for (int k = 0; k < n; ++k) {
        const int f = int((int64_t(k) * stride) % n);
        const Ptex::FaceInfo info = gridInfo(g, f);
        if (f % 29 == 3) continue;  // never written: black and constant
        std::vector<uint8_t> texels = faceTexels(g.dataType, g.nchannels, info.res, f);
        if (f % 13 == 0) {
            EXPECT_TRUE(writer->writeConstantFace(f, info, texels.data()));
        } else if (f % 17 == 0) {
            // Texels, then constant: the level-0 block stays behind, unused.
            EXPECT_TRUE(writer->writeFace(f, info, texels.data()));
            EXPECT_TRUE(writer->writeConstantFace(f, info, texels.data() + texels.size() - size_t(pixelSize)));
        } else if (f % 19 == 0) {
            // Written twice, the second write wins.
            std::vector<uint8_t> first = faceTexels(g.dataType, g.nchannels, info.res, f + 1);
            EXPECT_TRUE(writer->writeFace(f, info, first.data()));
            EXPECT_TRUE(writer->writeFace(f, info, texels.data()));
        } else if (f % 23 == 0) {
            // Uniform texels given to writeFace become a constant face.
            std::vector<uint8_t> flat(texels.size());
            for (size_t b = 0; b < flat.size(); b += size_t(pixelSize))
                std::memcpy(&flat[b], texels.data(), size_t(pixelSize));
            EXPECT_TRUE(writer->writeFace(f, info, flat.data()));
        } else {
            EXPECT_TRUE(writer->writeFace(f, info, texels.data()));
        }
    }
    writer->writeMeta("name", "scale test");
    std::vector<int32_t> large(600);
    for (size_t i = 0; i < large.size(); ++i) large[i] = int32_t(mix(uint32_t(i)));
    writer->writeMeta("large", large.data(), int(large.size()));
    const double weights[3] = {0.25, 0.5, 0.25};
    writer->writeMeta("weights", weights, 3);
    writer->setBorderModes(Ptex::m_clamp, Ptex::m_periodic);
    EXPECT_TRUE(writer->close(error)) << error;
    writer->release();
    return readBytes(path);
}

struct Expected {
    const char* name;
    GridFile grid;
    uint64_t hash;
    size_t size;
};

}  // namespace

TEST(WriterScale, LargeVariedFilesAreByteIdenticalToTheEstablishedOutput)
{
    const std::vector<Expected> cases = {
        // 40,000 small faces of mixed, rectangular resolutions.
        {"uint8_mixed",
         {Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 200, true,
          [](int f) { return Ptex::Res(int8_t((f * 7 + f / 200) % 6), int8_t((f / 200 + 2 * (f % 200)) % 5)); }},
         0xd9858bc6cf3f3bc7ull,
         8618744},
        // 2,304 faces with premultiplied alpha and deeper mip chains.
        {"uint16_alpha",
         {Ptex::mt_quad, Ptex::dt_uint16, 4, 3, 48, true,
          [](int f) { return Ptex::Res(int8_t(2 + f % 5), int8_t(1 + (f / 3) % 5)); }},
         0x60251c2c4293d6deull,
         7570401},
        // Triangles in half floats.
        {"half_triangles",
         {Ptex::mt_triangle, Ptex::dt_half, 3, -1, 80, true,
          [](int f) { return Ptex::Res(int8_t(f % 6), int8_t(f % 6)); }},
         0x53e20ca1a2f97255ull,
         8476428},
        // A few large float faces: tiled blocks, constant tiles, long mip chains.
        {"float_tiled",
         {Ptex::mt_quad, Ptex::dt_float, 1, -1, 3, true,
          [](int f) { return f == 1 ? Ptex::Res(10, 9) : Ptex::Res(int8_t(9 - f % 3), int8_t(8 + f % 2)); }},
         0xceb2eba1b9f565d1ull,
         4392348},
        // No mip-maps.
        {"uint8_nomips",
         {Ptex::mt_quad, Ptex::dt_uint8, 2, 1, 100, false, [](int f) { return Ptex::Res(int8_t(f % 5), int8_t(3)); }},
         0xad73e496545fc63dull,
         1027438},
    };
    for (const Expected& c : cases) {
        const std::vector<uint8_t> bytes = writeGrid(c.grid, scratchPath(std::string(c.name) + ".ptx"));
        EXPECT_EQ(bytes.size(), c.size) << c.name;
        EXPECT_EQ(fileHash(bytes), c.hash) << c.name << std::hex << " 0x" << fileHash(bytes);
    }

    // A full rewrite and an incremental edit of the first file.
    const std::string source = scratchPath("uint8_mixed.ptx");
    const GridFile& grid = cases[0].grid;
    const int n = grid.side * grid.side;
    for (bool incremental : {false, true}) {
        const std::string path = scratchPath(incremental ? "edit_incr.ptx" : "edit_full.ptx");
        std::filesystem::copy_file(source, path, std::filesystem::copy_options::overwrite_existing);
        Ptex::String error;
        PtexWriter* writer = PtexWriter::edit(path.c_str(), incremental, grid.meshType, grid.dataType, grid.nchannels,
                                              grid.alphachan, n, error, grid.mipmaps);
        ASSERT_TRUE(writer) << error;
        for (int f = 5; f < n; f += 997) {
            const Ptex::FaceInfo info = gridInfo(grid, f);
            std::vector<uint8_t> texels = faceTexels(grid.dataType, grid.nchannels, info.res, f + 3);
            EXPECT_TRUE(writer->writeFace(f, info, texels.data()));
        }
        writer->writeMeta("edited", "yes");
        ASSERT_TRUE(writer->close(error)) << error;
        writer->release();
        const std::vector<uint8_t> bytes = readBytes(path);
        const uint64_t expectedHash = incremental ? 0x79592d62c3616cdaull : 0xf3caaa9af6c71ac9ull;
        const size_t expectedSize = incremental ? 8633864u : 8203582u;
        EXPECT_EQ(bytes.size(), expectedSize) << path;
        EXPECT_EQ(fileHash(bytes), expectedHash) << path << std::hex << " 0x" << fileHash(bytes);
    }
}

namespace {

// A grid of 8x8 and 16x16 RGB faces written in the given face order; no other files beside it.
std::vector<uint8_t> writeInOrder(const std::string& path, const std::vector<int>& order, int side)
{
    GridFile grid;
    grid.side = side;
    grid.res = [](int f) { return f % 3 ? Ptex::Res(3, 3) : Ptex::Res(4, 4); };
    const int n = side * side;
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 3, -1, n, error);
    EXPECT_TRUE(writer) << error;
    if (!writer) return {};
    for (int f : order) {
        const Ptex::FaceInfo info = gridInfo(grid, f);
        const std::vector<uint8_t> texels = faceTexels(Ptex::dt_uint8, 3, info.res, f);
        EXPECT_TRUE(writer->writeFace(f, info, texels.data()));
    }
    EXPECT_TRUE(writer->close(error)) << error;
    writer->release();
    return readBytes(path);
}

}  // namespace

TEST(WriterScale, FaceOrderDoesNotChangeTheFileAndNothingIsLeftBeside)
{
    // Enough faces that the blocks span several read windows of the writer's spool.
    const int side = 120, n = side * side;
    std::vector<int> forward(static_cast<size_t>(n));
    std::iota(forward.begin(), forward.end(), 0);
    std::vector<int> backward(forward.rbegin(), forward.rend());
    std::vector<int> scrambled(static_cast<size_t>(n));
    for (int k = 0; k < n; ++k) scrambled[size_t(k)] = int((int64_t(k) * 7877) % n);

    const std::string dir = scratchPath("order");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::vector<uint8_t> reference = writeInOrder(dir + "/forward.ptx", forward, side);
    ASSERT_GT(reference.size(), size_t(2) << 20);
    EXPECT_EQ(writeInOrder(dir + "/backward.ptx", backward, side), reference);
    EXPECT_EQ(writeInOrder(dir + "/scrambled.ptx", scrambled, side), reference);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"backward.ptx", "forward.ptx", "scrambled.ptx"}));
}

TEST(WriterScale, BlocksStayInMemoryWhenNoSpoolFileCanBeMade)
{
    // The target's folder does not exist while the faces are written, so no spool file can be
    // made beside it; it exists by close, which then writes the same file as usual.
    const int side = 40;
    std::vector<int> order(size_t(side) * size_t(side));
    std::iota(order.begin(), order.end(), 0);
    const std::string dir = scratchPath("late_folder");
    std::filesystem::remove_all(dir);
    const std::string reference = scratchPath("late_folder_reference.ptx");
    const std::vector<uint8_t> expected = writeInOrder(reference, order, side);

    GridFile grid;
    grid.side = side;
    grid.res = [](int f) { return f % 3 ? Ptex::Res(3, 3) : Ptex::Res(4, 4); };
    const std::string path = dir + "/late.ptx";
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 3, -1, side * side, error);
    ASSERT_TRUE(writer) << error;
    for (int f : order) {
        const Ptex::FaceInfo info = gridInfo(grid, f);
        EXPECT_TRUE(writer->writeFace(f, info, faceTexels(Ptex::dt_uint8, 3, info.res, f).data()));
    }
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(writer->close(error)) << error;
    writer->release();
    EXPECT_EQ(readBytes(path), expected);
}
