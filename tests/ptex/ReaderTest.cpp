// Reading through PtexTexture: single texels with channel clipping and bounds, buffer copies
// (strides, bad face ids), the rules that decide which data serve a resolution (stored levels,
// alternating dynamic halvings, tiled sources), premultiplied alpha, meta data accessors,
// incremental edits, and reading from memory exactly as from a file.
#include <PtexUtils.h>
#include <Ptexture.h>

#include "PtexInputHandlers.h"
#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tarsk::test::FaceLayout;
using tarsk::test::TextureLayout;

std::string scratch(const std::string& name)
{
    fs::create_directories(tarsk::test::scratchDir());
    return tarsk::test::scratchDir() + "/Reader_" + name;
}

std::string writeLayout(const std::string& name, const TextureLayout& texDesc)
{
    std::string path = scratch(name), error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    return path;
}

std::vector<uint8_t> readAll(PtexTexture* tx, int face, Ptex::Res res, int stride = 0)
{
    const int pixelSize = Ptex::DataSize(tx->dataType()) * tx->numChannels();
    std::vector<uint8_t> out(size_t(pixelSize) * res.size(), 0xcd);
    tx->getData(face, out.data(), stride, res);
    return out;
}

TEST(Reader, SingleTexelsAreClippedBoundsCheckedAndNormalised)
{
    TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint16;
    texDesc.numChannels = 3;
    texDesc.faces.resize(2);
    texDesc.faces[0].res = Ptex::Res(3, 2);
    texDesc.faces[1].res = Ptex::Res(2, 5);
    texDesc.faces[1].constant = true;
    texDesc.texel = [](int f, int u, int v, int c) { return f ? 0.25f * float(c + 1) : float(u + 8 * v + c) / 64.f; };
    Ptex::String error;
    PtexPtr<PtexTexture> tx(PtexTexture::open(writeLayout("texels.ptx", texDesc).c_str(), error));
    ASSERT_TRUE(tx) << error;

    uint16_t stored[3];
    PtexPtr<PtexFaceData> data(tx->getData(0));
    data->getPixel(5, 3, stored);
    float expected = float(stored[2]) * (1.f / 65535.f);

    // Channels 2..4 of a 3-channel file: one value, the clipped rest cleared (both variants).
    float result[3] = {-1, -1, -1};
    tx->getPixel(0, 5, 3, result, 2, 3);
    EXPECT_EQ(result[0], expected);
    EXPECT_EQ(result[1], 0.f);
    EXPECT_EQ(result[2], 0.f);
    float resultRes[3] = {-1, -1, -1};
    tx->getPixel(0, 5, 3, resultRes, 2, 3, Ptex::Res(3, 2));
    EXPECT_EQ(resultRes[0], expected);
    EXPECT_EQ(resultRes[1], 0.f);
    EXPECT_EQ(resultRes[2], 0.f);

    // Outside the requested resolution, bad face ids and bad channels: zeros, no access.
    for (auto uv : {std::make_pair(8, 0), std::make_pair(0, 4), std::make_pair(-1, 0), std::make_pair(0, -1)}) {
        float r[3] = {-1, -1, -1};
        tx->getPixel(0, uv.first, uv.second, r, 0, 3);
        EXPECT_EQ(r[0], 0.f);
        EXPECT_EQ(r[2], 0.f);
    }
    float r[3] = {-1, -1, -1};
    tx->getPixel(0, 7, 3, r, 0, 3, Ptex::Res(2, 2));  // outside the 4x4 reduction
    EXPECT_EQ(r[0], 0.f);
    tx->getPixel(2, 0, 0, r, 0, 3);
    EXPECT_EQ(r[1], 0.f);
    r[0] = -1;
    tx->getPixel(0, 0, 0, r, -1, 3);
    EXPECT_EQ(r[0], 0.f);
    tx->getPixel(0, 0, 0, nullptr, 0, 3);

    // A constant face answers its value anywhere inside its logical resolution.
    float c[3];
    tx->getPixel(1, 3, 31, c, 0, 3);
    EXPECT_NEAR(c[0], 0.25f, 1e-5);
    EXPECT_NEAR(c[2], 0.75f, 1e-5);
    EXPECT_EQ(tx->getFaceInfo(-1).adjfaces[0], -1);
    EXPECT_EQ(tx->getFaceInfo(2).res, Ptex::Res(0, 0));
}

TEST(Reader, BufferCopiesHonourStridesAndFillBadRequestsWithZeros)
{
    TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint8;
    texDesc.numChannels = 2;
    texDesc.faces = tarsk::test::quadGrid(2, 1, Ptex::Res(3, 3));
    texDesc.texel = [](int f, int u, int v, int c) { return float((f * 64 + v * 8 + u + c * 3) % 256) / 255.f; };
    Ptex::String error;
    PtexPtr<PtexTexture> tx(PtexTexture::open(writeLayout("copies.ptx", texDesc).c_str(), error));
    ASSERT_TRUE(tx) << error;
    const Ptex::Res res(3, 3);
    std::vector<uint8_t> packed = readAll(tx, 1, res);

    // Negative stride, pointer at the last row: rows come out flipped.
    std::vector<uint8_t> flipped(packed.size());
    tx->getData(1, flipped.data() + 7 * 16, -16);
    for (int v = 0; v < 8; ++v) EXPECT_EQ(0, memcmp(&flipped[v * 16], &packed[(7 - v) * 16], 16)) << v;

    // Wider stride leaves the gap untouched.
    std::vector<uint8_t> wide(8 * 20, 0xee);
    tx->getData(1, wide.data(), 20);
    for (int v = 0; v < 8; ++v) {
        EXPECT_EQ(0, memcmp(&wide[v * 20], &packed[v * 16], 16));
        EXPECT_EQ(wide[v * 20 + 17], 0xee);
    }

    // A bad face id with stride 0 clears every row of the requested resolution.
    std::vector<uint8_t> bad = readAll(tx, 7, res);
    for (uint8_t b : bad) ASSERT_EQ(b, 0);
    std::vector<uint8_t> negative = readAll(tx, 0, Ptex::Res(2, 2));
    tx->getData(0, negative.data(), 0, Ptex::Res(int8_t(-1), 2));  // nothing written, no crash
    PtexPtr<PtexFaceData> none(tx->getData(-3, res));
    EXPECT_TRUE(none->isConstant());
}

TEST(Reader, ResolutionsComeFromStoredLevelsOrAlternatingHalvings)
{
    TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint8;
    texDesc.numChannels = 1;
    texDesc.faces.resize(1);
    texDesc.faces[0].res = Ptex::Res(3, 3);
    texDesc.texel = [](int, int u, int v, int) { return float((u * 37 + v * 91) % 256) / 255.f; };
    Ptex::String error;
    PtexPtr<PtexTexture> tx(PtexTexture::open(writeLayout("levels.ptx", texDesc).c_str(), error));
    ASSERT_TRUE(tx) << error;
    ASSERT_TRUE(tx->hasMipMaps());
    const Ptex::DataType dt = Ptex::dt_uint8;
    std::vector<uint8_t> full = readAll(tx, 0, Ptex::Res(3, 3));

    std::vector<uint8_t> box(16), stored = readAll(tx, 0, Ptex::Res(2, 2));
    PtexUtils::reduce(full.data(), 8, 8, 8, box.data(), 4, dt, 1);
    EXPECT_EQ(stored, box) << "level 1 is the stored 2x2 box reduction";

    // (1,1): odd u -> halve u of (2,1); (2,1): halve v of the stored (2,2).
    std::vector<uint8_t> v21(8), u11(4);
    PtexUtils::reducev(stored.data(), 4, 4, 4, v21.data(), 4, dt, 1);
    PtexUtils::reduceu(v21.data(), 4, 4, 2, u11.data(), 2, dt, 1);
    EXPECT_EQ(readAll(tx, 0, Ptex::Res(2, 1)), v21);
    EXPECT_EQ(readAll(tx, 0, Ptex::Res(1, 1)), u11);

    // One axis at full resolution: reduced from level 0.
    std::vector<uint8_t> u23(32);
    PtexUtils::reduceu(full.data(), 8, 8, 8, u23.data(), 4, dt, 1);
    EXPECT_EQ(readAll(tx, 0, Ptex::Res(2, 3)), u23);

    // Enlargements are refused with zeros; res (0,0) is the stored average.
    std::vector<uint8_t> big = readAll(tx, 0, Ptex::Res(4, 3));
    for (uint8_t b : big) ASSERT_EQ(b, 0);
    uint8_t average = 0;
    PtexUtils::average(stored.data(), 4, 4, 4, &average, dt, 1);
    EXPECT_EQ(readAll(tx, 0, Ptex::Res(0, 0))[0], average);
}

TEST(Reader, SingleTexelsAndPointLookupsEqualTheStoredTexelsWhileBlocksComeAndGo)
{
    // Tiled faces with constant tiles, packed faces and a constant face, every data type, read
    // texel by texel at the stored resolution through a cache far too small for the texture, so
    // that texels are read both from resident blocks and from blocks evicted and loaded again.
    for (Ptex::DataType dt : {Ptex::dt_uint8, Ptex::dt_uint16, Ptex::dt_half, Ptex::dt_float}) {
        SCOPED_TRACE(Ptex::DataTypeName(dt));
        TextureLayout texDesc;
        texDesc.dataType = dt;
        texDesc.numChannels = 3;
        texDesc.faces.resize(4);
        texDesc.faces[0].res = Ptex::Res(9, 8);  // tiled
        texDesc.faces[1].res = Ptex::Res(3, 5);  // packed
        texDesc.faces[2].res = Ptex::Res(2, 2);
        texDesc.faces[2].constant = true;
        texDesc.faces[3].res = Ptex::Res(8, 9);  // tiled
        texDesc.texel = [](int f, int u, int v, int c) {
            if (f != 1 && u >= 128 && v >= 128) return 0.25f * float(c + 1);  // constant tiles
            return float((u * 7 + v * 13 + c * 5 + f * 3) % 256) / 255.f;
        };
        const std::string path = writeLayout(std::string("texels-") + Ptex::DataTypeName(dt) + ".ptx", texDesc);
        PtexPtr<PtexCache> cache(PtexCache::create(1, 64 * 1024));
        Ptex::String error;
        PtexPtr<PtexTexture> tx(cache->get(path.c_str(), error));
        ASSERT_TRUE(tx) << error;
        PtexPtr<PtexFilter> pointFilter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(PtexFilter::f_point)));
        std::vector<std::vector<float>> expected(texDesc.faces.size());
        for (size_t f = 0; f < texDesc.faces.size(); f++) {
            const std::vector<unsigned char> stored = tarsk::test::makeFaceTexels(texDesc, int(f));
            const Ptex::Res res = texDesc.faces[f].constant ? Ptex::Res(0, 0) : texDesc.faces[f].res;
            const int texelBytes = Ptex::DataSize(dt) * 3;
            expected[f].resize(size_t(res.size()) * 3);
            for (int t = 0; t < res.size(); t++)
                Ptex::ConvertToFloat(&expected[f][size_t(t) * 3], &stored[size_t(t) * size_t(texelBytes)], dt, 3);
        }
        uint32_t seed = 7;
        auto next = [&seed](int n) {
            seed = seed * 1664525u + 1013904223u;
            return int((seed >> 8) % uint32_t(n));
        };
        for (int i = 0; i < 20000; i++) {
            const int f = next(4);
            const Ptex::Res res = texDesc.faces[f].res;
            const int u = next(res.u()), v = next(res.v());
            const int firstchan = next(3);
            float got[3] = {-1, -1, -1};
            tx->getPixel(f, u, v, got, firstchan, 3);
            // The point filter at the texel's centre reads the same texel, for the channels
            // up to the last one and for a range past it.
            const int pointChannels = i % 2 ? 3 : 3 - firstchan;
            float point[3] = {-1, -1, -1};
            pointFilter->eval(point, firstchan, pointChannels, f, (float(u) + 0.5f) / float(res.u()),
                              (float(v) + 0.5f) / float(res.v()), 0, 0, 0, 0);
            const size_t t = texDesc.faces[f].constant ? 0 : size_t(v) * size_t(res.u()) + size_t(u);
            for (int c = 0; c < 3; c++) {
                const float want = firstchan + c < 3 ? expected[f][t * 3 + size_t(firstchan + c)] : 0.0f;
                ASSERT_EQ(got[c], want) << "face " << f << " texel (" << u << ", " << v << ") channel " << c;
                ASSERT_EQ(point[c], c < pointChannels ? want : -1.0f)
                    << "point filter, face " << f << " texel (" << u << ", " << v << ") channel " << c;
            }
        }
    }
}

TEST(Reader, TiledFacesReduceLikeTheirAssembledImage)
{
    TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_float;
    texDesc.numChannels = 1;
    texDesc.mipmaps = false;
    texDesc.faces.resize(1);
    texDesc.faces[0].res = Ptex::Res(9, 9);
    // The upper-right quadrant is flat, so some tiles are stored as constants.
    texDesc.texel = [](int, int u, int v, int) { return u >= 256 && v >= 256 ? 0.5f : float(u * 3 + v * 5) / 4096.f; };
    Ptex::String error;
    PtexPtr<PtexTexture> tx(PtexTexture::open(writeLayout("tiled.ptx", texDesc).c_str(), error));
    ASSERT_TRUE(tx) << error;
    {
        PtexPtr<PtexFaceData> face(tx->getData(0));
        ASSERT_TRUE(face->isTiled());
        EXPECT_EQ(face->getData(), nullptr);
        PtexPtr<PtexFaceData> corner(face->getTile(face->res().ntiles(face->tileRes()) - 1));
        EXPECT_TRUE(corner->isConstant());
        float value = -1;
        face->getPixel(511, 511, &value);
        EXPECT_EQ(value, 0.5f);
    }
    std::vector<uint8_t> full = readAll(tx, 0, Ptex::Res(9, 9));
    std::vector<float> image(512 * 512);
    memcpy(image.data(), full.data(), full.size());
    EXPECT_EQ(image[3 * 512 + 7], float(7 * 3 + 3 * 5) / 4096.f);

    std::vector<float> halfU(256 * 512), quarter(256 * 256), fromReader(256 * 256);
    PtexUtils::reduceu(image.data(), 512 * 4, 512, 512, halfU.data(), 256 * 4, Ptex::dt_float, 1);
    {
        // The reduction stays tiled (computed tile by tile); a flat quadrant gives constant tiles.
        PtexPtr<PtexFaceData> reduced(tx->getData(0, Ptex::Res(8, 9)));
        ASSERT_TRUE(reduced->isTiled());
        EXPECT_EQ(reduced->tileRes(), Ptex::Res(7, 7));
        PtexPtr<PtexFaceData> flat(reduced->getTile(reduced->res().ntiles(reduced->tileRes()) - 1));
        EXPECT_TRUE(flat->isConstant());
        PtexPtr<PtexFaceData> busy(reduced->getTile(0));
        EXPECT_FALSE(busy->isConstant());
    }
    std::vector<uint8_t> u = readAll(tx, 0, Ptex::Res(8, 9));
    EXPECT_EQ(0, memcmp(u.data(), halfU.data(), u.size()));
    // (8,8): even u with equal reductions halves v of (8,9).
    PtexUtils::reducev(halfU.data(), 256 * 4, 256, 512, quarter.data(), 256 * 4, Ptex::dt_float, 1);
    std::vector<uint8_t> q = readAll(tx, 0, Ptex::Res(8, 8));
    EXPECT_EQ(0, memcmp(q.data(), quarter.data(), q.size()));
    float pixel = -1;
    tx->getPixel(0, 100, 37, &pixel, 0, 1, Ptex::Res(8, 8));
    EXPECT_EQ(pixel, quarter[37 * 256 + 100]);
}

TEST(Reader, PremultiplicationAppliesToLevelZeroAndConstants)
{
    TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint8;
    texDesc.numChannels = 4;
    texDesc.alphaChannel = 3;
    texDesc.faces = tarsk::test::quadGrid(2, 1, Ptex::Res(3, 3));
    texDesc.faces[1].constant = true;
    texDesc.texel = [](int f, int u, int v, int c) {
        return c == 3 ? float(u + v) / 14.f : float(f + u * v + c) / 60.f;
    };
    const std::string path = writeLayout("alpha.ptx", texDesc);
    Ptex::String error;
    PtexPtr<PtexTexture> plain(PtexTexture::open(path.c_str(), error, false));
    PtexPtr<PtexTexture> premult(PtexTexture::open(path.c_str(), error, true));
    ASSERT_TRUE(plain && premult) << error;
    for (Ptex::Res res : {Ptex::Res(3, 3), Ptex::Res(0, 0)}) {
        std::vector<uint8_t> a = readAll(plain, 0, res), b = readAll(premult, 0, res);
        PtexUtils::multalpha(a.data(), res.size(), Ptex::dt_uint8, 4, 3);
        EXPECT_EQ(a, b) << int(res.ulog2) << "," << int(res.vlog2);
    }
    std::vector<uint8_t> c1 = readAll(plain, 1, Ptex::Res(3, 3)), c2 = readAll(premult, 1, Ptex::Res(3, 3));
    PtexUtils::multalpha(c1.data(), 64, Ptex::dt_uint8, 4, 3);
    EXPECT_EQ(c1, c2);
    // Reductions of one axis are computed from level 0 as it is served.
    std::vector<uint8_t> level0 = readAll(premult, 0, Ptex::Res(3, 3)), halfV(128);
    PtexUtils::reducev(level0.data(), 32, 8, 8, halfV.data(), 32, Ptex::dt_uint8, 4);
    EXPECT_EQ(readAll(premult, 0, Ptex::Res(3, 2)), halfV);
    // Stored reductions are premultiplied in the file and come back as stored either way.
    EXPECT_EQ(readAll(plain, 0, Ptex::Res(2, 2)), readAll(premult, 0, Ptex::Res(2, 2)));
}

TEST(Reader, MetaDataAccessorsAndIncrementalEdits)
{
    const std::string path = scratch("edited.ptx");
    Ptex::String error;
    {
        PtexPtr<PtexWriter> w(PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 1, -1, 2, error));
        ASSERT_TRUE(w) << error;
        std::vector<int32_t> big(400);
        for (int i = 0; i < 400; ++i) big[i] = i * 7 - 1000;
        w->writeMeta("big", big.data(), int(big.size()));
        w->writeMeta("name", "first");
        const double d[2] = {1.5, -0.0};
        w->writeMeta("numbers", d, 2);
        uint8_t texels[16];
        for (int i = 0; i < 16; ++i) texels[i] = uint8_t(i * 9);
        ASSERT_TRUE(w->writeFace(0, Ptex::FaceInfo(Ptex::Res(2, 2)), texels));
        ASSERT_TRUE(w->writeFace(1, Ptex::FaceInfo(Ptex::Res(2, 2)), texels));
        ASSERT_TRUE(w->close(error)) << error;
    }
    {
        PtexPtr<PtexWriter> w(PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 1, -1, 2, error));
        ASSERT_TRUE(w) << error;
        uint8_t texels[64];
        for (int i = 0; i < 64; ++i) texels[i] = uint8_t(255 - i);
        ASSERT_TRUE(w->writeFace(1, Ptex::FaceInfo(Ptex::Res(3, 3)), texels));
        w->writeMeta("name", "second");
        w->writeMeta("added", "yes");
        ASSERT_TRUE(w->close(error)) << error;
    }
    PtexPtr<PtexTexture> tx(PtexTexture::open(path.c_str(), error));
    ASSERT_TRUE(tx) << error;
    EXPECT_TRUE(tx->hasEdits());
    EXPECT_TRUE(tx->getFaceInfo(1).hasEdits());
    EXPECT_FALSE(tx->getFaceInfo(0).hasEdits());
    EXPECT_EQ(tx->getFaceInfo(1).res, Ptex::Res(3, 3));
    std::vector<uint8_t> face1 = readAll(tx, 1, Ptex::Res(3, 3));
    EXPECT_EQ(face1[0], 255);
    EXPECT_EQ(face1[63], 192);

    PtexPtr<PtexMetaData> meta(tx->getMetaData());
    ASSERT_EQ(meta->numKeys(), 4);
    const char* key = "untouched";
    Ptex::MetaDataType type = Ptex::mdt_float;
    meta->getKey(4, key, type);
    EXPECT_STREQ(key, "untouched");
    EXPECT_EQ(type, Ptex::mdt_float);
    int index = 7;
    EXPECT_FALSE(meta->findKey("missing", index, type));
    EXPECT_EQ(index, -1);
    EXPECT_EQ(type, Ptex::mdt_float);
    ASSERT_TRUE(meta->findKey("name", index, type));
    EXPECT_EQ(type, Ptex::mdt_string);
    const char* name = nullptr;
    meta->getValue("name", name);
    EXPECT_STREQ(name, "second") << "the edit replaces the value and keeps the index";
    meta->getKey(3, key, type);
    EXPECT_STREQ(key, "added");

    const int32_t* big = nullptr;
    int count = 0;
    meta->getValue("big", big, count);
    ASSERT_EQ(count, 400);
    EXPECT_EQ(big[399], 399 * 7 - 1000);
    const int16_t* wrongType = reinterpret_cast<const int16_t*>(1);
    meta->getValue("big", wrongType, count);
    EXPECT_EQ(wrongType, nullptr);
    EXPECT_EQ(count, 0);
    const double* numbers = nullptr;
    meta->getValue("numbers", numbers, count);
    ASSERT_EQ(count, 2);
    EXPECT_TRUE(std::signbit(numbers[1]));
}

TEST(Reader, MemoryInputReadsExactlyLikeTheFile)
{
    const std::string dir = tarsk::test::testDataDir();
    if (!fs::is_directory(dir)) GTEST_SKIP() << "reference Ptex data not found at " << dir;
    for (const char* name : {"meta_u16.ptx", "edits_u8.ptx", "tri_closed_f32_rgba.ptx", "subfaces_half.ptx"}) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        Ptex::MemoryInputHandler memory(bytes.data(), bytes.size());
        PtexPtr<PtexCache> cache(PtexCache::create(0, 0, false, &memory));
        Ptex::String error;
        PtexPtr<PtexTexture> fromMemory(cache->get(name, error));
        PtexPtr<PtexTexture> fromFile(PtexTexture::open((dir + "/" + name).c_str(), error));
        ASSERT_TRUE(fromMemory && fromFile) << name << ": " << error;
        ASSERT_EQ(fromMemory->numFaces(), fromFile->numFaces());
        for (int f = 0; f < fromFile->numFaces(); ++f) {
            Ptex::Res res = fromFile->getFaceInfo(f).res;
            for (int k = 0; k <= std::min(res.ulog2, res.vlog2); ++k) {
                Ptex::Res r(int8_t(res.ulog2 - k), int8_t(res.vlog2 - k));
                ASSERT_EQ(readAll(fromMemory, f, r), readAll(fromFile, f, r)) << name << " face " << f;
            }
        }
        PtexPtr<PtexMetaData> a(fromMemory->getMetaData()), b(fromFile->getMetaData());
        EXPECT_EQ(a->numKeys(), b->numKeys());
    }
}

}  // namespace
