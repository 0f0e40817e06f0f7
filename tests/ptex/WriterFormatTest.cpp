// The writer's output at byte level: the worked example file byte for byte, section offsets,
// stored reductions and constant values against the exact reduction arithmetic, tiling, the
// neighbourhood-constant flags and meta data layout. Files are parsed independently of the reader.
#include "TestData.h"
#include "TextureMaker.h"
#include "WrittenFile.h"

#include "PtexWriterEncoding.h"

#include <PtexHalf.h>
#include <PtexUtils.h>
#include <Ptexture.h>

#include "FileBytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace {

using tarsk::test::readBytes;

using tarsk::test::WrittenFile;

std::string scratchPath(const std::string& name)
{
    std::filesystem::create_directories(tarsk::test::scratchDir());
    return tarsk::test::scratchDir() + "/writer_format_" + name;
}

// The 242-byte reference file of the format's worked example.
const uint8_t kExampleFile[] = {
    0x50, 0x74, 0x65, 0x78, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff,
    0xff, 0x03, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x1d, 0x00, 0x00, 0x00, 0x0e, 0x00,
    0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x25, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x22,
    0x00, 0x00, 0x00, 0x1b, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0xf2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x78, 0x9c, 0x63, 0x62, 0xe4, 0x61, 0xf8, 0x0f, 0x04, 0x8c,
    0x0c, 0x0c, 0x60, 0x1a, 0xcc, 0x66, 0x74, 0x60, 0xfc, 0x8f, 0x04, 0x80, 0x52, 0x0c, 0x00, 0xd1, 0x82, 0x18, 0x3c,
    0x78, 0x9c, 0xe3, 0x37, 0x62, 0xff, 0xdf, 0xc0, 0x00, 0x00, 0x05, 0x73, 0x01, 0xc8, 0x25, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x0e, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x78, 0x9c, 0x13, 0x67, 0x60, 0x68, 0x60, 0x00,
    0x02, 0x00, 0x03, 0x40, 0x00, 0x98, 0x78, 0x9c, 0x63, 0xe0, 0xe2, 0xe2, 0x7a, 0x04, 0xc2, 0x0c, 0x0c, 0x0c, 0x29,
    0x40, 0xbc, 0x98, 0x01, 0x02, 0x00, 0x2e, 0x58, 0x03, 0x08, 0x78, 0x9c, 0x63, 0xcd, 0x4b, 0xcc, 0x4d, 0x65, 0x60,
    0x60, 0x66, 0x60, 0x60, 0x48, 0x4c, 0x62, 0x60, 0xce, 0x2c, 0x63, 0x60, 0x62, 0x01, 0xb2, 0x19, 0x19, 0xfe, 0xfd,
    0x07, 0x00, 0x41, 0xf2, 0x05, 0x53, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(WriterFormat, WorkedExampleIsByteIdentical)
{
    const std::string path = scratchPath("example.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error);
    ASSERT_TRUE(writer) << error;
    int adj0[4] = {-1, 1, -1, -1}, edges0[4] = {0, 3, 0, 0};
    int adj1[4] = {-1, -1, -1, 0}, edges1[4] = {0, 0, 0, 1};
    uint8_t texels[2][4][3];
    for (int v = 0; v < 2; ++v)
        for (int u = 0; u < 4; ++u) {
            texels[v][u][0] = uint8_t(10 * u);
            texels[v][u][1] = uint8_t(100 * v);
            texels[v][u][2] = 7;
        }
    EXPECT_TRUE(writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(2, 1), adj0, edges0), texels));
    const uint8_t value[3] = {255, 128, 0};
    EXPECT_TRUE(writer->writeConstantFace(1, Ptex::FaceInfo(Ptex::Res(1, 1), adj1, edges1), value));
    writer->writeMeta("name", "ab");
    const int16_t iv[2] = {1, -2};
    writer->writeMeta("iv", iv, 2);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
    const std::vector<uint8_t> written = readBytes(path);
    ASSERT_EQ(written.size(), sizeof(kExampleFile));
    for (size_t i = 0; i < written.size(); ++i) ASSERT_EQ(written[i], kExampleFile[i]) << "byte " << i;
}

TEST(WriterFormat, FileWithoutMetaDataKeepsTheBarrier)
{
    const std::string path = scratchPath("offsets.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error);
    ASSERT_TRUE(writer) << error;
    const uint8_t texels[12] = {0, 7, 14, 21, 28, 35, 42, 49, 56, 63, 70, 77};
    for (int f = 0; f < 2; ++f) EXPECT_TRUE(writer->writeFace(f, Ptex::FaceInfo(Ptex::Res(1, 1)), texels));
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    EXPECT_EQ(file.bytes.size(), 202u);
    EXPECT_EQ(file.editDataPos, 202u);
    EXPECT_EQ(file.faceInfoSize, 18u);
    EXPECT_EQ(file.constDataSize, 14u);
    EXPECT_EQ(file.levelDataSize, 42u);
    EXPECT_EQ(file.nlevels, 1);
    EXPECT_EQ(file.metaMemSize, 0u);
    EXPECT_EQ(file.constData, (std::vector<uint8_t>{31, 38, 45, 31, 38, 45}));
    ASSERT_EQ(file.levels[0].headers.size(), 2u);
    EXPECT_EQ(file.levels[0].headers[0], 0x8000000Eu);
    EXPECT_EQ(file.levels[0].headers[1], 0x8000000Eu);
    for (int i = 194; i < 202; ++i) EXPECT_EQ(file.bytes[size_t(i)], 0) << i;
}

// Independent statement of the 2x2 box / triangle reduction of one channel value.
template <typename T>
T boxOf(T a, T b, T c, T d)
{
    if constexpr (std::is_same_v<T, float>) {
        return 0.25f * (((a + b) + c) + d);
    } else if constexpr (std::is_same_v<T, PtexHalf>) {
        return PtexHalf(0.25f * (((float(a) + float(b)) + float(c)) + float(d)));
    } else {
        return T((unsigned(a) + unsigned(b) + unsigned(c) + unsigned(d)) / 4);
    }
}

template <typename T>
std::vector<uint8_t> referenceReduction(const std::vector<uint8_t>& image, Ptex::Res res, int nchan, bool triangle)
{
    const int w = res.u(), h = res.v();
    std::vector<uint8_t> out(image.size() / 4);
    const T* src = reinterpret_cast<const T*>(image.data());
    T* dst = reinterpret_cast<T*>(out.data());
    auto at = [&](int u, int v, int c) { return src[(size_t(v) * size_t(w) + size_t(u)) * size_t(nchan) + size_t(c)]; };
    for (int j = 0; j < h / 2; ++j)
        for (int i = 0; i < w / 2; ++i)
            for (int c = 0; c < nchan; ++c) {
                const T d = triangle ? at(w - 1 - 2 * j, w - 1 - 2 * i, c) : at(2 * i + 1, 2 * j + 1, c);
                dst[(size_t(j) * size_t(w / 2) + size_t(i)) * size_t(nchan) + size_t(c)] =
                    boxOf<T>(at(2 * i, 2 * j, c), at(2 * i + 1, 2 * j, c), at(2 * i, 2 * j + 1, c), d);
            }
    return out;
}

std::vector<uint8_t> reduceReference(Ptex::DataType dt, const std::vector<uint8_t>& image, Ptex::Res res, int nchan,
                                     bool triangle)
{
    switch (dt) {
    case Ptex::dt_uint8: return referenceReduction<uint8_t>(image, res, nchan, triangle);
    case Ptex::dt_uint16: return referenceReduction<uint16_t>(image, res, nchan, triangle);
    case Ptex::dt_half: return referenceReduction<PtexHalf>(image, res, nchan, triangle);
    case Ptex::dt_float: return referenceReduction<float>(image, res, nchan, triangle);
    }
    return {};
}

// Random faces of every data type and alpha position: level membership and order, every stored
// reduction and every constant value equal what the reduction rules compute from level 0.
TEST(WriterFormat, StoredReductionsAndConstantValuesFollowTheArithmetic)
{
    std::mt19937 rng(42);
    const Ptex::DataType types[] = {Ptex::dt_uint8, Ptex::dt_uint16, Ptex::dt_half, Ptex::dt_float};
    for (Ptex::MeshType mt : {Ptex::mt_quad, Ptex::mt_triangle}) {
        for (Ptex::DataType dt : types) {
            for (int alpha : {-1, 0, 1, 2}) {
                const int nchan = 3;
                tarsk::test::TextureLayout texDesc;
                texDesc.meshType = mt;
                texDesc.dataType = dt;
                texDesc.numChannels = nchan;
                texDesc.alphaChannel = alpha;
                const int quadRes[7][2] = {{5, 4}, {3, 3}, {2, 6}, {6, 3}, {1, 1}, {4, 4}, {7, 2}};
                for (int f = 0; f < 7; ++f) {
                    tarsk::test::FaceLayout face;
                    const int r = quadRes[f][mt == Ptex::mt_quad ? 1 : 0];
                    face.res = mt == Ptex::mt_quad ? Ptex::Res(int8_t(quadRes[f][0]), int8_t(quadRes[f][1]))
                                                   : Ptex::Res(int8_t(r + 1), int8_t(r + 1));
                    texDesc.faces.push_back(face);
                }
                const uint32_t seed = rng();
                texDesc.texel = [seed](int f, int u, int v, int c) {
                    uint32_t h = uint32_t(f) * 73856093u ^ uint32_t(u) * 19349663u ^ uint32_t(v) * 83492791u ^
                                 uint32_t(c) * 2654435761u ^ seed;
                    h ^= h >> 13;
                    h *= 0x5bd1e995u;
                    h ^= h >> 15;
                    return float(h & 0xffff) / 65535.0f;
                };
                const std::string path = scratchPath("reductions.ptx");
                std::string error;
                ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
                const WrittenFile file = tarsk::test::loadWrittenFile(path);
                const int P = file.pixelSize();

                std::vector<Ptex::FaceInfo> infos = file.faces;
                std::vector<uint32_t> rfaceids(infos.size()), faceids(infos.size());
                PtexUtils::genRfaceids(infos.data(), int(infos.size()), rfaceids.data(), faceids.data());
                int maxKey = 0;
                for (const Ptex::FaceInfo& info : infos)
                    if (!info.isConstant()) maxKey = std::max(maxKey, int(std::min(info.res.ulog2, info.res.vlog2)));
                ASSERT_EQ(file.nlevels, 1 + std::max(0, maxKey - 2));
                for (size_t f = 0; f < infos.size(); ++f) {
                    const Ptex::FaceInfo& info = infos[f];
                    if (info.isConstant()) continue;
                    std::vector<uint8_t> image;
                    ASSERT_TRUE(file.decodeFace(0, int(f), info.res, image, error)) << error;
                    // Level 0 holds the texels exactly as given.
                    ASSERT_EQ(image, tarsk::test::makeFaceTexels(texDesc, int(f)));
                    if (alpha >= 0) PtexUtils::multalpha(image.data(), info.res.size(), dt, nchan, alpha);
                    const int key = std::min(info.res.ulog2, info.res.vlog2);
                    Ptex::Res res = info.res;
                    for (int level = 1; level <= key - 2; ++level) {
                        image = reduceReference(dt, image, res, nchan, mt == Ptex::mt_triangle);
                        res = Ptex::Res(int8_t(res.ulog2 - 1), int8_t(res.vlog2 - 1));
                        const uint32_t index = rfaceids[f];
                        ASSERT_LT(index, file.levels[size_t(level)].nfaces);
                        std::vector<uint8_t> stored;
                        ASSERT_TRUE(file.decodeFace(level, int(index), res, stored, error)) << error;
                        ASSERT_EQ(stored, image) << "face " << f << " level " << level << " dt " << dt;
                    }
                    std::vector<uint8_t> mean(size_t(P), 0);
                    PtexUtils::average(image.data(), res.u() * P, res.u(), res.v(), mean.data(), dt, nchan);
                    if (alpha >= 0) PtexUtils::divalpha(mean.data(), 1, dt, nchan, alpha);
                    ASSERT_EQ(0, std::memcmp(mean.data(), &file.constData[f * size_t(P)], size_t(P))) << f;
                }
                for (int level = 1; level < file.nlevels; ++level) {
                    uint32_t members = 0;
                    for (const Ptex::FaceInfo& info : infos)
                        if (!info.isConstant() && std::min(info.res.ulog2, info.res.vlog2) >= level + 2) ++members;
                    EXPECT_EQ(file.levels[size_t(level)].nfaces, members);
                }
            }
        }
    }
}

// First texel of level 1 and the constant value of an 8x8 face whose top-left block is special
// and whose other texels are `rest`.
template <typename T>
void checkEightByEight(Ptex::DataType dt, int nchan, int alpha, const std::vector<T>& block, const std::vector<T>& rest,
                       const std::vector<T>& level1, const std::vector<T>& constant)
{
    std::vector<T> image(size_t(64 * nchan));
    for (int k = 0; k < 64; ++k)
        for (int c = 0; c < nchan; ++c) image[size_t(k * nchan + c)] = rest[size_t(c)];
    const int corner[4] = {0, 1, 8, 9};
    for (int k = 0; k < 4; ++k)
        for (int c = 0; c < nchan; ++c) image[size_t(corner[k] * nchan + c)] = block[size_t(k * nchan + c)];
    const std::string path = scratchPath("eight.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, dt, nchan, alpha, 1, error);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(3, 3)), image.data()));
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    ASSERT_EQ(file.nlevels, 2);
    std::vector<uint8_t> reduced;
    ASSERT_TRUE(file.decodeFace(1, 0, Ptex::Res(2, 2), reduced, error)) << error;
    EXPECT_EQ(0, std::memcmp(reduced.data(), level1.data(), sizeof(T) * size_t(nchan)));
    EXPECT_EQ(0, std::memcmp(file.constData.data(), constant.data(), sizeof(T) * size_t(nchan)));
}

TEST(WriterFormat, ReductionExamplesOfTheFormat)
{
    checkEightByEight<uint8_t>(Ptex::dt_uint8, 1, -1, {1, 2, 3, 5}, {0}, {2}, {0});
    checkEightByEight<uint16_t>(Ptex::dt_uint16, 1, -1, {65535, 65535, 65535, 65534}, {0}, {65534}, {4095});
    checkEightByEight<float>(Ptex::dt_float, 1, -1, {1e8f, 1.0f, -1e8f, 1.0f}, {0.0f}, {0.25f}, {0.015625f});
    PtexHalf one(1.0f), next(1.0f + 1.0f / 1024.0f), zero(0.0f), level1, constant;
    level1.bits = 0x3c01;
    constant.bits = 0x2c01;
    checkEightByEight<PtexHalf>(Ptex::dt_half, 1, -1, {one, one, next, next}, {zero}, {level1}, {constant});
    checkEightByEight<uint8_t>(Ptex::dt_uint8, 2, 1, {200, 255, 200, 128, 200, 128, 200, 128}, {200, 128}, {125, 159},
                               {199, 129});
}

TEST(WriterFormat, TileResolutionsAndTiledBlocks)
{
    using Ptex::PtexWriterEncoding::tileResFor;
    struct Case {
        Ptex::DataType dt;
        int nchan, ulog2, vlog2, tu, tv;
    };
    const Case cases[] = {
        {Ptex::dt_float, 1, 8, 7, 7, 7},  {Ptex::dt_float, 1, 8, 8, 7, 7},   {Ptex::dt_uint8, 4, 8, 8, 7, 7},
        {Ptex::dt_float, 4, 8, 8, 6, 6},  {Ptex::dt_float, 4, 10, 10, 6, 6}, {Ptex::dt_uint8, 1, 12, 2, 12, 2},
        {Ptex::dt_float, 4, 12, 2, 6, 2}, {Ptex::dt_float, 4, 14, 0, 6, 0},  {Ptex::dt_uint16, 3, 9, 9, 7, 7},
        {Ptex::dt_half, 4, 11, 5, 7, 5},  {Ptex::dt_uint8, 3, 9, 8, 8, 7},   {Ptex::dt_uint8, 1, 10, 10, 8, 8},
        {Ptex::dt_uint8, 1, 9, 8, 8, 8},  {Ptex::dt_uint8, 2, 8, 8, 8, 7}};
    for (const Case& c : cases) {
        const Ptex::Res tile = tileResFor(Ptex::Res(int8_t(c.ulog2), int8_t(c.vlog2)), Ptex::DataSize(c.dt) * c.nchan);
        EXPECT_EQ(tile.ulog2, c.tu) << c.ulog2 << "x" << c.vlog2;
        EXPECT_EQ(tile.vlog2, c.tv) << c.ulog2 << "x" << c.vlog2;
    }

    // A 512x512 RGBA face with one flat quadrant: 16 tiles of 128x128, four of them constant,
    // and a tiled first reduction (256x256x4 = 262144 bytes).
    tarsk::test::TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint8;
    texDesc.numChannels = 4;
    tarsk::test::FaceLayout face;
    face.res = Ptex::Res(9, 9);
    texDesc.faces = {face};
    texDesc.texel = [](int, int u, int v, int c) {
        if (u < 256 && v < 256) return 0.5f;
        return float((u * 7 + v * 3 + c * 11) % 251) / 255.0f;
    };
    const std::string path = scratchPath("tiled.ptx");
    std::string error;
    ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    EXPECT_EQ(file.levels[0].headers[0] >> 30, 3u);
    EXPECT_EQ(file.tileRes(0, 0, face.res), Ptex::Res(7, 7));
    const uint64_t pos = file.levels[0].blockPos[0];
    std::vector<uint8_t> words;
    ASSERT_TRUE(file.inflateAt(pos + 6, file.u32(pos + 2), 64, words));
    int constantTiles = 0;
    for (int t = 0; t < 16; ++t) {
        uint32_t word;
        std::memcpy(&word, &words[size_t(t) * 4], 4);
        if (word >> 30 == 0) {
            ++constantTiles;
            EXPECT_EQ(word, 4u);
        }
    }
    EXPECT_EQ(constantTiles, 4);
    std::vector<uint8_t> image;
    ASSERT_TRUE(file.decodeFace(0, 0, face.res, image, error)) << error;
    EXPECT_EQ(image, tarsk::test::makeFaceTexels(texDesc, 0));
    EXPECT_EQ(file.levels[1].headers[0] >> 30, 3u);
    EXPECT_EQ(file.tileRes(1, 0, Ptex::Res(8, 8)), Ptex::Res(7, 7));
    EXPECT_EQ(file.nlevels, 8);
}

// Caller texels are stored bit for bit: NaN payloads, infinities and negative zeros included.
TEST(WriterFormat, SpecialFloatValuesAreStoredBitForBit)
{
    const uint32_t patterns[8] = {0x7fc00001, 0xff800000, 0x7f800000, 0x80000000,
                                  0x00000001, 0x7f800001, 0x3f800000, 0xffffffff};
    std::vector<uint32_t> floats(64);
    std::vector<uint16_t> halves(64);
    for (size_t i = 0; i < 64; ++i) {
        floats[i] = patterns[i % 8];
        halves[i] = uint16_t(0x7c01 + i * 977);
    }
    for (Ptex::DataType dt : {Ptex::dt_float, Ptex::dt_half}) {
        const std::string path = scratchPath("special.ptx");
        Ptex::String error;
        PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, dt, 1, -1, 1, error);
        const void* data = dt == Ptex::dt_float ? static_cast<const void*>(floats.data()) : halves.data();
        ASSERT_TRUE(writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(3, 3)), data));
        ASSERT_TRUE(writer->close(error)) << error;
        writer->release();
        const WrittenFile file = tarsk::test::loadWrittenFile(path);
        std::vector<uint8_t> stored;
        ASSERT_TRUE(file.decodeFace(0, 0, Ptex::Res(3, 3), stored, error)) << error;
        ASSERT_EQ(stored.size(), 64u * Ptex::DataSize(dt));
        EXPECT_EQ(0, std::memcmp(stored.data(), data, stored.size())) << Ptex::DataTypeName(dt);
    }
}

// Writes a mesh of 4x4 uint8 faces, constant (value 5) or not, and returns the stored flags.
std::vector<int> flagsOf(Ptex::MeshType mt, const std::vector<tarsk::test::FaceLayout>& faces,
                         const std::vector<int>& nonConstant, Ptex::BorderMode u = Ptex::m_clamp,
                         Ptex::BorderMode v = Ptex::m_clamp)
{
    tarsk::test::TextureLayout texDesc;
    texDesc.meshType = mt;
    texDesc.dataType = Ptex::dt_uint8;
    texDesc.faces = faces;
    for (tarsk::test::FaceLayout& face : texDesc.faces) face.res = Ptex::Res(2, 2);
    texDesc.uBorderMode = u;
    texDesc.vBorderMode = v;
    texDesc.texel = [nonConstant](int f, int x, int y, int) {
        for (int n : nonConstant)
            if (n == f) return float(x + 4 * y) / 255.0f;
        return 5.0f / 255.0f;
    };
    const std::string path = scratchPath("flags.ptx");
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    std::vector<int> flags;
    for (const Ptex::FaceInfo& info : file.faces) flags.push_back(info.flags);
    return flags;
}

tarsk::test::FaceLayout linked(std::initializer_list<std::pair<int, int>> edges, bool subface = false)
{
    tarsk::test::FaceLayout face;
    int e = 0;
    for (const auto& [adj, adjEdge] : edges) {
        face.adjfaces[e] = adj;
        face.adjedges[e] = adj >= 0 ? adjEdge : 0;
        ++e;
    }
    face.subface = subface;
    return face;
}

TEST(WriterFormat, NeighborhoodConstantFlags)
{
    const auto grid = tarsk::test::quadGrid(3, 3, Ptex::Res(2, 2));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, grid, {}), std::vector<int>(9, 5));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, grid, {}, Ptex::m_black), (std::vector<int>{1, 1, 1, 1, 5, 1, 1, 1, 1}));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, grid, {}, Ptex::m_clamp, Ptex::m_periodic),
              (std::vector<int>{1, 1, 1, 1, 5, 1, 1, 1, 1}));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, grid, {0}), (std::vector<int>{0, 1, 5, 1, 1, 5, 5, 5, 5}));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, grid, {4}), (std::vector<int>{1, 1, 1, 1, 0, 1, 1, 1, 1}));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, grid, {6}), (std::vector<int>{5, 5, 5, 1, 1, 5, 0, 1, 5}));

    // L shape around one border vertex: C touches A's corner, so C must not be flagged.
    const std::vector<tarsk::test::FaceLayout> lShape = {linked({{-1, 0}, {1, 3}, {-1, 0}, {-1, 0}}),
                                                         linked({{2, 2}, {-1, 0}, {-1, 0}, {0, 1}}),
                                                         linked({{-1, 0}, {-1, 0}, {1, 0}, {-1, 0}})};
    EXPECT_EQ(flagsOf(Ptex::mt_quad, lShape, {0}), (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, lShape, {}), (std::vector<int>{5, 5, 5}));

    // Two fans of twelve quads glued along their rims: poles of valence 12.
    std::vector<tarsk::test::FaceLayout> fans;
    auto T = [](int i) { return (i + 12) % 12; };
    auto B = [](int i) { return 12 + (i + 12) % 12; };
    for (int i = 0; i < 12; ++i) fans.push_back(linked({{T(i - 1), 3}, {B(i), 2}, {B(i), 1}, {T(i + 1), 0}}));
    for (int i = 0; i < 12; ++i) fans.push_back(linked({{B(i + 1), 3}, {T(i), 2}, {T(i), 1}, {B(i - 1), 0}}));
    std::vector<int> expected = {1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 5, 1, 1, 1, 5, 5, 5, 5, 5, 5, 5, 5};
    EXPECT_EQ(flagsOf(Ptex::mt_quad, fans, {2}), expected);
    EXPECT_EQ(flagsOf(Ptex::mt_quad, fans, {}), std::vector<int>(24, 5));

    // A whole face next to a subface pair on the mesh border.
    const std::vector<tarsk::test::FaceLayout> subfaces = {linked({{-1, 0}, {1, 3}, {-1, 0}, {-1, 0}}),
                                                           linked({{-1, 0}, {-1, 0}, {2, 0}, {0, 1}}, true),
                                                           linked({{1, 2}, {-1, 0}, {-1, 0}, {0, 1}}, true)};
    EXPECT_EQ(flagsOf(Ptex::mt_quad, subfaces, {}), (std::vector<int>{1, 13, 13}));
    EXPECT_EQ(flagsOf(Ptex::mt_quad, subfaces, {2}), (std::vector<int>{1, 9, 8}));

    const std::vector<tarsk::test::FaceLayout> triangles = {linked({{-1, 0}, {1, 1}, {-1, 0}}),
                                                            linked({{-1, 0}, {0, 1}, {-1, 0}})};
    EXPECT_EQ(flagsOf(Ptex::mt_triangle, triangles, {}), (std::vector<int>{5, 5}));
}

// Property: on random grids of constant and non-constant faces, a face carries the flag exactly
// when it and every face sharing one of its vertices are constant with the same value.
TEST(WriterFormat, NeighborhoodFlagsOnRandomGrids)
{
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 40; ++trial) {
        const int nu = 1 + int(rng() % 6), nv = 1 + int(rng() % 5);
        std::vector<int> kind(size_t(nu * nv));  // 0: non-constant, 1 or 2: constant value
        for (int& k : kind) k = int(rng() % 8) == 0 ? 0 : 1 + int(rng() % 5 == 0);
        tarsk::test::TextureLayout texDesc;
        texDesc.dataType = Ptex::dt_uint8;
        texDesc.faces = tarsk::test::quadGrid(nu, nv, Ptex::Res(2, 2));
        texDesc.texel = [&kind](int f, int x, int y, int) {
            return kind[size_t(f)] == 0 ? float(x + 4 * y) / 255.0f : float(kind[size_t(f)]) / 255.0f;
        };
        const std::string path = scratchPath("random_flags.ptx");
        std::string error;
        ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
        const WrittenFile file = tarsk::test::loadWrittenFile(path);
        for (int y = 0; y < nv; ++y)
            for (int x = 0; x < nu; ++x) {
                const int f = y * nu + x;
                bool expected = kind[size_t(f)] != 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int gx = x + dx, gy = y + dy;
                        if (gx < 0 || gy < 0 || gx >= nu || gy >= nv) continue;
                        if (kind[size_t(gy * nu + gx)] != kind[size_t(f)]) expected = false;
                    }
                EXPECT_EQ(file.faces[size_t(f)].isNeighborhoodConstant(), expected)
                    << "trial " << trial << " face " << f << " of " << nu << "x" << nv;
            }
    }
}

TEST(WriterFormat, MetaDataLayoutAndOrder)
{
    const std::string path = scratchPath("meta.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 1, -1, 1, error);
    ASSERT_TRUE(writer);
    const std::vector<int8_t> small(1024, 3), large(1025, 4);
    writer->writeMeta("large", large.data(), int(large.size()));
    writer->writeMeta("small", small.data(), int(small.size()));
    writer->writeMeta("", "");
    const std::string longKey(254, 'k');
    const double d[2] = {1.5, -0.0};
    writer->writeMeta(longKey.c_str(), d, 2);
    const int32_t first[1] = {1};
    writer->writeMeta("retyped", first, 1);
    const float second[2] = {2.0f, 3.0f};
    writer->writeMeta("retyped", second, 2);  // replaces type and value, keeps the position
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    ASSERT_EQ(file.meta.size(), 5u);
    EXPECT_EQ(file.meta[0].key, "small");
    EXPECT_EQ(file.meta[0].data.size(), 1024u);
    EXPECT_EQ(file.meta[1].key, "");
    EXPECT_EQ(file.meta[1].data, std::vector<uint8_t>{0});
    EXPECT_EQ(file.meta[2].key, longKey);
    EXPECT_EQ(file.meta[2].type, int(Ptex::mdt_double));
    EXPECT_EQ(file.meta[3].key, "retyped");
    EXPECT_EQ(file.meta[3].type, int(Ptex::mdt_float));
    EXPECT_EQ(file.meta[3].data.size(), 8u);
    EXPECT_EQ(file.meta[4].key, "large");
    EXPECT_TRUE(file.meta[4].large);
    EXPECT_EQ(file.meta[4].data, std::vector<uint8_t>(1025, 4));
    EXPECT_EQ(file.editDataPos, file.bytes.size());
    EXPECT_EQ(file.endOfSections, file.bytes.size());
}

TEST(WriterFormat, StridesRewritesAndStaleBlocks)
{
    // The same image given packed, with padded rows and bottom-up with a negative stride.
    const int w = 16, h = 8, P = 2;
    std::vector<uint8_t> packed(size_t(w * h * P));
    for (size_t i = 0; i < packed.size(); ++i) packed[i] = uint8_t(i * 37 + 11);
    std::vector<uint8_t> padded(size_t((w * P + 5) * h), 0xab), flipped(packed.size());
    for (int v = 0; v < h; ++v) {
        std::memcpy(&padded[size_t(v * (w * P + 5))], &packed[size_t(v * w * P)], size_t(w * P));
        std::memcpy(&flipped[size_t((h - 1 - v) * w * P)], &packed[size_t(v * w * P)], size_t(w * P));
    }
    auto writeOne = [&](const std::string& name, const void* data, int stride) {
        const std::string path = scratchPath(name);
        Ptex::String error;
        PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 2, -1, 1, error);
        EXPECT_TRUE(writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(4, 3)), data, stride));
        EXPECT_TRUE(writer->close(error)) << error;
        writer->release();
        return readBytes(path);
    };
    const auto a = writeOne("stride0.ptx", packed.data(), 0);
    EXPECT_EQ(a, writeOne("strideP.ptx", padded.data(), w * P + 5));
    EXPECT_EQ(a, writeOne("strideN.ptx", &flipped[size_t((h - 1) * w * P)], -w * P));

    // Face 0: texels then constant (the earlier block stays in level 0, unused); face 1:
    // constant then texels; face 2 written twice, the last write wins.
    const std::string path = scratchPath("rewrites.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 2, -1, 3, error);
    const Ptex::FaceInfo info(Ptex::Res(4, 3));
    const uint8_t value[2] = {9, 8};
    EXPECT_TRUE(writer->writeFace(0, info, packed.data()));
    EXPECT_TRUE(writer->writeConstantFace(0, Ptex::FaceInfo(Ptex::Res(5, 5)), value));
    EXPECT_TRUE(writer->writeConstantFace(1, info, value));
    EXPECT_TRUE(writer->writeFace(1, info, packed.data()));
    EXPECT_TRUE(writer->writeFace(2, info, flipped.data()));
    EXPECT_TRUE(writer->writeFace(2, info, packed.data()));
    EXPECT_TRUE(writer->close(error)) << error;
    writer->release();
    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    EXPECT_TRUE(file.faces[0].isConstant());
    EXPECT_EQ(file.faces[0].res, Ptex::Res(5, 5));
    EXPECT_NE(file.levels[0].headers[0], 0u);
    EXPECT_EQ(file.constData[0], 9);
    EXPECT_EQ(file.constData[1], 8);
    EXPECT_FALSE(file.faces[1].isConstant());
    std::vector<uint8_t> image;
    for (int f = 1; f <= 2; ++f) {
        ASSERT_TRUE(file.decodeFace(0, f, info.res, image, error)) << error;
        EXPECT_EQ(image, packed);
    }
}

TEST(WriterFormat, UnwrittenFacesAndEmptyWriters)
{
    // Nothing written at all still gives a file: constant black 1x1 faces, flagged
    // neighbourhood-constant under clamp borders.
    const std::string path = scratchPath("empty.ptx");
    std::filesystem::remove(path);
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_triangle, Ptex::dt_half, 4, 3, 3, error);
    ASSERT_TRUE(writer);
    writer->release();  // release alone finishes the file
    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    ASSERT_EQ(file.faces.size(), 3u);
    for (const Ptex::FaceInfo& info : file.faces) {
        EXPECT_EQ(info.flags, 5);
        EXPECT_EQ(info.res, Ptex::Res(0, 0));
        for (int e = 0; e < 4; ++e) EXPECT_EQ(info.adjfaces[e], -1);
    }
    EXPECT_EQ(file.constData, std::vector<uint8_t>(3 * 8, 0));
    EXPECT_EQ(file.nlevels, 1);
}

}  // namespace
