// Writer followed by reader: every mesh type, data type, alpha position and face shape reads
// back as written; and the reference-written sample files, re-written by our writer from what
// our reader returns, come out byte for byte identical.
#include "TestData.h"
#include "TextureMaker.h"
#include "WrittenFile.h"

#include <PtexUtils.h>
#include <Ptexture.h>

#include "FileBytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using tarsk::test::readBytes;

namespace fs = std::filesystem;

std::string scratchPath(const std::string& name)
{
    fs::create_directories(tarsk::test::scratchDir());
    return tarsk::test::scratchDir() + "/roundtrip_" + name;
}

uint32_t mix(uint32_t h)
{
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

struct Shape {
    int ulog2, vlog2;
    bool constant;
};

TEST(RoundTrip, EveryTypeChannelCountAlphaAndShapeReadsBack)
{
    // Square and elongated faces, faces too small for reductions, a constant face with a
    // declared resolution, a 1x1 face, and faces large enough to be tiled.
    const Shape quadShapes[] = {{3, 3, false}, {6, 3, false}, {9, 2, false}, {2, 5, false},
                                {0, 0, false}, {4, 4, true},  {8, 8, false}, {1, 0, false}};
    const Shape triShapes[] = {{3, 3, false}, {0, 0, false}, {5, 5, true}, {8, 8, false}, {2, 2, false}};
    const Ptex::DataType types[] = {Ptex::dt_uint8, Ptex::dt_uint16, Ptex::dt_half, Ptex::dt_float};
    for (Ptex::MeshType mt : {Ptex::mt_quad, Ptex::mt_triangle}) {
        for (Ptex::DataType dt : types) {
            for (int nchan : {1, 3, 4}) {
                for (int alpha : {-1, 0, nchan / 2, nchan - 1}) {
                    if (nchan == 1 && alpha > 0) continue;
                    tarsk::test::TextureLayout texDesc;
                    texDesc.meshType = mt;
                    texDesc.dataType = dt;
                    texDesc.numChannels = nchan;
                    texDesc.alphaChannel = alpha;
                    texDesc.mipmaps = nchan != 3;
                    texDesc.uBorderMode = Ptex::m_periodic;
                    texDesc.edgeFilterMode = nchan == 4 ? Ptex::efm_tanvec : Ptex::efm_none;
                    const bool quad = mt == Ptex::mt_quad;
                    const size_t count = quad ? std::size(quadShapes) : std::size(triShapes);
                    for (size_t f = 0; f < count; ++f) {
                        const Shape& s = quad ? quadShapes[f] : triShapes[f];
                        tarsk::test::FaceLayout face;
                        face.res = Ptex::Res(int8_t(s.ulog2), int8_t(s.vlog2));
                        face.constant = s.constant;
                        face.adjfaces[1] = int((f + 1) % count);
                        face.adjedges[1] = 2;
                        texDesc.faces.push_back(face);
                    }
                    const uint32_t seed = uint32_t(mt * 1000 + dt * 100 + nchan * 10 + alpha);
                    texDesc.texel = [seed](int f, int u, int v, int c) {
                        const uint32_t h = mix(uint32_t(f) * 73856093u ^ uint32_t(u) * 19349663u ^
                                               uint32_t(v) * 83492791u ^ uint32_t(c) * 2654435761u ^ seed);
                        // Some exactly transparent texels exercise the zero-alpha rule.
                        return (h & 7) == 0 ? 0.0f : float(h & 0xffff) / 65535.0f;
                    };
                    const std::string path = scratchPath("types.ptx");
                    std::string error;
                    ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;

                    Ptex::String readError;
                    PtexPtr<PtexTexture> tex(PtexTexture::open(path.c_str(), readError));
                    ASSERT_TRUE(tex) << readError;
                    EXPECT_EQ(tex->meshType(), mt);
                    EXPECT_EQ(tex->dataType(), dt);
                    EXPECT_EQ(tex->numChannels(), nchan);
                    EXPECT_EQ(tex->alphaChannel(), alpha);
                    EXPECT_EQ(tex->uBorderMode(), Ptex::m_periodic);
                    EXPECT_EQ(tex->vBorderMode(), Ptex::m_clamp);
                    EXPECT_EQ(tex->edgeFilterMode(), texDesc.edgeFilterMode);
                    EXPECT_FALSE(tex->hasEdits());
                    EXPECT_EQ(tex->hasMipMaps(), texDesc.mipmaps);
                    ASSERT_EQ(tex->numFaces(), int(count));
                    const int P = Ptex::DataSize(dt) * nchan;
                    for (int f = 0; f < int(count); ++f) {
                        const tarsk::test::FaceLayout& face = texDesc.faces[size_t(f)];
                        const Ptex::FaceInfo& info = tex->getFaceInfo(f);
                        EXPECT_EQ(info.res, face.res);
                        EXPECT_EQ(info.adjfaces[1], face.adjfaces[1]);
                        EXPECT_EQ(int(info.adjedge(1)), 2);
                        const bool constant = face.constant || face.res == Ptex::Res(0, 0);
                        EXPECT_EQ(info.isConstant(), constant) << f;
                        std::vector<uint8_t> texels(size_t(P) * size_t(face.res.size()));
                        tex->getData(f, texels.data(), 0);
                        std::vector<uint8_t> expected = tarsk::test::makeFaceTexels(texDesc, f);
                        if (face.constant) {
                            std::vector<uint8_t> filled(texels.size());
                            PtexUtils::fill(expected.data(), filled.data(), face.res.u() * P, face.res.u(),
                                            face.res.v(), P);
                            expected = filled;
                        }
                        ASSERT_EQ(texels, expected)
                            << "face " << f << " mt " << mt << " dt " << dt << " alpha " << alpha;
                    }
                }
            }
        }
    }
}

// Meta data of every type, sizes around the small/large boundary, the 254-character key.
TEST(RoundTrip, MetaDataOfEveryTypeReadsBack)
{
    const std::string path = scratchPath("meta.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_float, 1, -1, 1, error);
    ASSERT_TRUE(writer);
    const std::string longKey(254, 'x'), text1023(1023, 'a'), text1024(1024, 'b');
    const int8_t i8[3] = {-128, 0, 127};
    const int16_t i16[2] = {-32768, 32767};
    const std::vector<int32_t> i32(300, -7);  // 1200 bytes: a large item
    const float f32[2] = {-0.0f, 1e-40f};
    const double f64[1] = {3.25};
    writer->writeMeta("s1023", text1023.c_str());  // 1024 bytes with NUL: small
    writer->writeMeta("s1024", text1024.c_str());  // 1025 bytes: large
    writer->writeMeta("i8", i8, 3);
    writer->writeMeta("i16", i16, 2);
    writer->writeMeta("i32", i32.data(), int(i32.size()));
    writer->writeMeta(longKey.c_str(), f32, 2);
    writer->writeMeta("f64", f64, 1);
    writer->writeMeta("empty", "");
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    PtexPtr<PtexTexture> tex(PtexTexture::open(path.c_str(), error));
    ASSERT_TRUE(tex) << error;
    PtexPtr<PtexMetaData> meta(tex->getMetaData());
    ASSERT_EQ(meta->numKeys(), 8);
    // Small entries first in entry order, then the large ones.
    const char* order[] = {"s1023", "i8", "i16", longKey.c_str(), "f64", "empty", "s1024", "i32"};
    for (int i = 0; i < 8; ++i) {
        const char* key = nullptr;
        Ptex::MetaDataType type;
        meta->getKey(i, key, type);
        ASSERT_TRUE(key);
        EXPECT_STREQ(key, order[i]);
    }
    const char* s = nullptr;
    meta->getValue("s1024", s);
    ASSERT_TRUE(s);
    EXPECT_EQ(std::string(s), text1024);
    meta->getValue("empty", s);
    ASSERT_TRUE(s);
    EXPECT_STREQ(s, "");
    const int8_t* v8 = nullptr;
    int count = 0;
    meta->getValue("i8", v8, count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(std::memcmp(v8, i8, 3), 0);
    const int32_t* v32 = nullptr;
    meta->getValue("i32", v32, count);
    ASSERT_EQ(count, 300);
    EXPECT_EQ(std::vector<int32_t>(v32, v32 + 300), i32);
    const float* vf = nullptr;
    meta->getValue(longKey.c_str(), vf, count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(std::memcmp(vf, f32, sizeof(f32)), 0);
    const double* vd = nullptr;
    meta->getValue("f64", vd, count);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(vd[0], 3.25);
}

// Re-writes a reference-written file through our writer from what our reader returns.
bool rewrite(const std::string& source, const std::string& target, std::string& message)
{
    Ptex::String error;
    PtexPtr<PtexTexture> tex(PtexTexture::open(source.c_str(), error));
    if (!tex) {
        message = error;
        return false;
    }
    tarsk::test::WrittenFile structure;
    if (!structure.load(source, message)) return false;
    PtexWriter* writer = PtexWriter::open(target.c_str(), tex->meshType(), tex->dataType(), tex->numChannels(),
                                          tex->alphaChannel(), tex->numFaces(), error, tex->hasMipMaps());
    if (!writer) {
        message = error;
        return false;
    }
    writer->setBorderModes(tex->uBorderMode(), tex->vBorderMode());
    writer->setEdgeFilterMode(tex->edgeFilterMode());
    PtexPtr<PtexMetaData> meta(tex->getMetaData());
    writer->writeMeta(meta);
    const int P = Ptex::DataSize(tex->dataType()) * tex->numChannels();
    for (int f = 0; f < tex->numFaces(); ++f) {
        const Ptex::FaceInfo& info = tex->getFaceInfo(f);
        if (info.isConstant()) {
            // A face written with texels and then as constant keeps its first block.
            if (structure.levels[0].headers[size_t(f)] != 0) {
                std::vector<uint8_t> stale;
                if (!structure.decodeFace(0, f, info.res, stale, message)) return false;
                writer->writeFace(f, info, stale.data());
            }
            std::vector<uint8_t> value(static_cast<size_t>(P));
            tex->getData(f, value.data(), 0, Ptex::Res(0, 0));
            writer->writeConstantFace(f, info, value.data());
        } else {
            std::vector<uint8_t> texels(size_t(P) * size_t(info.res.size()));
            tex->getData(f, texels.data(), 0);
            writer->writeFace(f, info, texels.data());
        }
    }
    const bool ok = writer->close(error);
    writer->release();
    if (!ok) message = error;
    return ok;
}

TEST(RoundTrip, ReferenceFilesRewriteByteForByte)
{
    const fs::path dir = tarsk::test::testDataDir();
    if (!fs::is_directory(dir)) GTEST_SKIP() << "reference Ptex files not found at " << dir;
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() != ".ptx") continue;
        const std::string name = entry.path().stem().string();
        // Edited files are folded on rewrite; they are covered by the edit tests.
        if (name == "edits_u8") continue;
        const std::string target = scratchPath("rewrite_" + name + ".ptx");
        std::string message;
        ASSERT_TRUE(rewrite(entry.path().string(), target, message)) << name << ": " << message;
        const std::vector<uint8_t> original = readBytes(entry.path().string()), ours = readBytes(target);
        EXPECT_EQ(ours.size(), original.size()) << name;
        size_t firstDiff = 0;
        while (firstDiff < std::min(ours.size(), original.size()) && ours[firstDiff] == original[firstDiff])
            ++firstDiff;
        EXPECT_TRUE(ours == original) << name << ": first difference at byte " << firstDiff;
        ++compared;
    }
    EXPECT_GE(compared, 9);
}

}  // namespace
