// Editing existing files: incremental records byte for byte, full rewrites that merge faces and
// meta data, applyEdits, successive edits of one file, and the edit error cases.
#include "TestData.h"
#include "TextureMaker.h"
#include "WrittenFile.h"

#include <PtexUtils.h>
#include <Ptexture.h>

#include "FileBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using tarsk::test::readBytes;

namespace fs = std::filesystem;
using tarsk::test::WrittenFile;

std::string scratchPath(const std::string& name)
{
    fs::create_directories(tarsk::test::scratchDir());
    return tarsk::test::scratchDir() + "/writer_edit_" + name;
}

// The two-face example file (quad, uint8, 3 channels, meta data "name" and "iv").
void writeExample(const std::string& path)
{
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
    writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(2, 1), adj0, edges0), texels);
    const uint8_t value[3] = {255, 128, 0};
    writer->writeConstantFace(1, Ptex::FaceInfo(Ptex::Res(1, 1), adj1, edges1), value);
    writer->writeMeta("name", "ab");
    const int16_t iv[2] = {1, -2};
    writer->writeMeta("iv", iv, 2);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
}

TEST(WriterEdit, IncrementalRecordsOfTheWorkedExample)
{
    const std::string path = scratchPath("example.ptx");
    writeExample(path);
    const std::vector<uint8_t> before = readBytes(path);
    ASSERT_EQ(before.size(), 242u);

    Ptex::String error;
    PtexWriter* writer = PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error);
    ASSERT_TRUE(writer) << error;
    int adj0[4] = {-1, 1, -1, -1}, edges0[4] = {0, 3, 0, 0};
    const uint8_t value[3] = {1, 2, 3};
    EXPECT_TRUE(writer->writeConstantFace(0, Ptex::FaceInfo(Ptex::Res(2, 1), adj0, edges0), value));
    writer->writeMeta("name", "cd");
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    const uint8_t appended[74] = {0x00, 0x1f, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x01, 0x0c, 0x01,
                                  0xff, 0xff, 0xff, 0xff, 0x01, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff,
                                  0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x01, 0x21, 0x00,
                                  0x00, 0x00, 0x19, 0x00, 0x00, 0x00, 0x0e, 0x00, 0x00, 0x00, 0x78, 0x01, 0x01,
                                  0x0e, 0x00, 0xf1, 0xff, 0x05, 0x6e, 0x61, 0x6d, 0x65, 0x00, 0x00, 0x03, 0x00,
                                  0x00, 0x00, 0x63, 0x64, 0x00, 0x15, 0x1d, 0x02, 0x71};
    std::vector<uint8_t> expected = before;
    expected.insert(expected.end(), appended, appended + sizeof(appended));
    expected[0x58] = 0x4a;  // edit data size 74
    EXPECT_EQ(readBytes(path), expected);

    PtexPtr<PtexTexture> tex(PtexTexture::open(path.c_str(), error));
    ASSERT_TRUE(tex) << error;
    EXPECT_TRUE(tex->hasEdits());
    const Ptex::FaceInfo& info = tex->getFaceInfo(0);
    EXPECT_EQ(info.flags, Ptex::FaceInfo::flag_constant | Ptex::FaceInfo::flag_hasedits);
    uint8_t texel[3];
    tex->getData(0, texel, 0, Ptex::Res(0, 0));
    EXPECT_EQ(std::vector<int>(texel, texel + 3), (std::vector<int>{1, 2, 3}));
    PtexPtr<PtexMetaData> meta(tex->getMetaData());
    int index = -1;
    Ptex::MetaDataType type;
    ASSERT_TRUE(meta->findKey("name", index, type));
    EXPECT_EQ(index, 0);
    const char* name = nullptr;
    meta->getValue("name", name);
    EXPECT_STREQ(name, "cd");
}

TEST(WriterEdit, IncrementalFaceConstantMetaAndModeRecords)
{
    const std::string path = scratchPath("incremental.ptx");
    Ptex::String error;
    {
        PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 2, 1, 3, error);
        ASSERT_TRUE(writer);
        for (int f = 0; f < 3; ++f) {
            uint8_t texels[16][2];
            for (int k = 0; k < 16; ++k) {
                texels[k][0] = uint8_t(k * 13 + f);
                texels[k][1] = uint8_t(255 - k * 9);
            }
            writer->writeFace(f, Ptex::FaceInfo(Ptex::Res(2, 2)), texels);
        }
        writer->writeMeta("base", "value");
        ASSERT_TRUE(writer->close(error)) << error;
        writer->release();
    }
    const uint64_t sizeBefore = readBytes(path).size();

    PtexWriter* writer = PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 2, 1, 3, error);
    ASSERT_TRUE(writer) << error;
    const uint8_t face1[4][2] = {{10, 200}, {20, 100}, {30, 50}, {40, 0}};
    EXPECT_TRUE(writer->writeFace(1, Ptex::FaceInfo(Ptex::Res(1, 1)), face1));
    const uint8_t face2[2] = {77, 128};
    EXPECT_TRUE(writer->writeConstantFace(2, Ptex::FaceInfo(Ptex::Res(3, 3)), face2));
    writer->writeMeta("edited", "yes");
    const int16_t base[2] = {1, 2};
    writer->writeMeta("base", base, 2);
    writer->setBorderModes(Ptex::m_black, Ptex::m_periodic);
    writer->setEdgeFilterMode(Ptex::efm_tanvec);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    ASSERT_EQ(file.bytes.size(), sizeBefore + 145);
    EXPECT_EQ(file.editDataPos, sizeBefore);
    EXPECT_EQ(file.editDataSize, 145u);
    EXPECT_EQ(file.uBorderMode, 1);
    EXPECT_EQ(file.vBorderMode, 2);
    EXPECT_EQ(file.edgeFilterMode, 1);
    const uint64_t r1 = sizeBefore;
    EXPECT_EQ(file.bytes[r1], 0);
    EXPECT_EQ(file.u32(r1 + 1), 49u);
    EXPECT_EQ(file.u32(r1 + 5), 1u);
    EXPECT_EQ(file.u32(r1 + 29), 0x80000013u);
    EXPECT_EQ(file.bytes[r1 + 33], 11);  // premultiplied mean 4, divided back by fl(255/87)
    EXPECT_EQ(file.bytes[r1 + 34], 87);
    std::vector<uint8_t> planar;
    ASSERT_TRUE(file.inflateAt(r1 + 35, 19, 8, planar));
    EXPECT_EQ(planar, (std::vector<uint8_t>{10, 10, 10, 10, 160, 156, 206, 206}));
    const uint64_t r2 = r1 + 5 + 49;
    EXPECT_EQ(file.u32(r2 + 1), 30u);
    EXPECT_EQ(file.bytes[r2 + 12], Ptex::FaceInfo::flag_constant);
    const uint64_t r3 = r2 + 5 + 30;
    EXPECT_EQ(file.bytes[r3], 1);
    EXPECT_EQ(file.u32(r3 + 1), 51u);
    EXPECT_EQ(file.u32(r3 + 5), 43u);
    EXPECT_EQ(file.u32(r3 + 9), 32u);

    PtexPtr<PtexTexture> tex(PtexTexture::open(path.c_str(), error));
    ASSERT_TRUE(tex) << error;
    EXPECT_EQ(tex->uBorderMode(), Ptex::m_black);
    EXPECT_EQ(tex->edgeFilterMode(), Ptex::efm_tanvec);
    uint8_t texels[4][2];
    tex->getData(1, texels, 0);
    EXPECT_EQ(std::memcmp(texels, face1, sizeof(face1)), 0);
    EXPECT_TRUE(tex->getFaceInfo(1).hasEdits());
    EXPECT_TRUE(tex->getFaceInfo(2).isConstant());
    PtexPtr<PtexMetaData> meta(tex->getMetaData());
    ASSERT_EQ(meta->numKeys(), 2);
    int index = -1;
    Ptex::MetaDataType type;
    ASSERT_TRUE(meta->findKey("base", index, type));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(type, Ptex::mdt_int16);
    ASSERT_TRUE(meta->findKey("edited", index, type));
    EXPECT_EQ(index, 1);
}

// Nine faces of the level-structure example on a 3x3 grid, meta data edited incrementally and
// then in a full rewrite that adds a large entry.
TEST(WriterEdit, SuccessiveEditsEndToEnd)
{
    const int res[9][2] = {{8, 7}, {1, 2}, {3, 1}, {5, 4}, {9, 8}, {2, 4}, {6, 2}, {7, 4}, {2, 1}};
    tarsk::test::TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint16;
    texDesc.numChannels = 3;
    texDesc.faces = tarsk::test::quadGrid(3, 3, Ptex::Res(0, 0));
    for (int f = 0; f < 9; ++f) texDesc.faces[size_t(f)].res = Ptex::Res(int8_t(res[f][0]), int8_t(res[f][1]));
    const std::string path = scratchPath("nine.ptx");
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint16, 3, -1, 9, error);
    ASSERT_TRUE(writer);
    std::vector<std::vector<uint16_t>> images(9);
    for (int f = 0; f < 9; ++f) {
        const int U = 1 << res[f][0], V = 1 << res[f][1];
        std::vector<uint16_t>& image = images[size_t(f)];
        for (int v = 0; v < V; ++v)
            for (int u = 0; u < U; ++u) {
                image.push_back(uint16_t(float(u) / float(U - 1) * 65535.0f));
                image.push_back(uint16_t(float(v) / float(V - 1) * 65535.0f));
                image.push_back(((u ^ v) & 1) ? 65535 : 0);
            }
        ASSERT_TRUE(writer->writeFace(f, texDesc.faces[size_t(f)].faceInfo(), image.data()));
    }
    writer->writeMeta("sval", "a str val");
    const double dvals[3] = {1.1, 2.2, 3.3};
    writer->writeMeta("dvals", dvals, 3);
    const int16_t ivals[4] = {2, 4, 6, 8};
    writer->writeMeta("ivals", ivals, 4);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    writer = PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint16, 3, -1, 9, error);
    ASSERT_TRUE(writer) << error;
    writer->writeMeta("sval", "a string value");
    const double dvals2[3] = {1.1, 2.2, 0};
    writer->writeMeta("dvals", dvals2, 3);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    writer = PtexWriter::edit(path.c_str(), false, Ptex::mt_quad, Ptex::dt_uint16, 3, -1, 9, error);
    ASSERT_TRUE(writer) << error;
    std::vector<double> many(500);
    for (int i = 0; i < 500; ++i) many[size_t(i)] = i;
    writer->writeMeta("dvals", many.data(), 500);
    writer->writeMeta("xval", "another string value");
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    // The rewrite equals a file written from scratch with the merged faces and meta data.
    const std::string fresh = scratchPath("nine_fresh.ptx");
    writer = PtexWriter::open(fresh.c_str(), Ptex::mt_quad, Ptex::dt_uint16, 3, -1, 9, error);
    ASSERT_TRUE(writer);
    for (int f = 0; f < 9; ++f) writer->writeFace(f, texDesc.faces[size_t(f)].faceInfo(), images[size_t(f)].data());
    writer->writeMeta("sval", "a string value");
    writer->writeMeta("dvals", many.data(), 500);
    writer->writeMeta("ivals", ivals, 4);
    writer->writeMeta("xval", "another string value");
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
    EXPECT_EQ(readBytes(path), readBytes(fresh));

    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    ASSERT_EQ(file.nlevels, 7);
    const uint32_t counts[7] = {9, 4, 4, 2, 2, 2, 1};
    for (int l = 0; l < 7; ++l) EXPECT_EQ(file.levels[size_t(l)].nfaces, counts[l]);
    for (const Ptex::FaceInfo& info : file.faces) EXPECT_EQ(info.flags, 0);
    ASSERT_EQ(file.meta.size(), 4u);
    EXPECT_EQ(file.meta[0].key, "sval");
    EXPECT_EQ(file.meta[1].key, "ivals");
    EXPECT_EQ(file.meta[2].key, "xval");
    EXPECT_EQ(file.meta[3].key, "dvals");
    EXPECT_EQ(file.editDataSize, 0u);

    PtexPtr<PtexTexture> tex(PtexTexture::open(path.c_str(), error));
    ASSERT_TRUE(tex) << error;
    EXPECT_FALSE(tex->hasEdits());
    for (int f = 0; f < 9; ++f) {
        std::vector<uint16_t> texels(images[size_t(f)].size());
        tex->getData(f, texels.data(), 0);
        EXPECT_EQ(texels, images[size_t(f)]) << f;
    }
    PtexPtr<PtexMetaData> meta(tex->getMetaData());
    // Readers list the small block's entries first, then the large ones.
    const char* order[] = {"sval", "ivals", "xval", "dvals"};
    ASSERT_EQ(meta->numKeys(), 4);
    for (int i = 0; i < 4; ++i) {
        const char* key = nullptr;
        Ptex::MetaDataType type;
        meta->getKey(i, key, type);
        EXPECT_STREQ(key, order[i]);
    }
    const char* sval = nullptr;
    meta->getValue("sval", sval);
    EXPECT_STREQ(sval, "a string value");
    const double* d = nullptr;
    int count = 0;
    meta->getValue("dvals", d, count);
    ASSERT_EQ(count, 500);
    EXPECT_EQ(d[499], 499.0);
}

// A file without meta data still carries the barrier, so its incremental edits are found; a
// full rewrite folds them in and keeps unwritten faces.
TEST(WriterEdit, EditsOfFilesWithoutMetaDataAndApplyEdits)
{
    tarsk::test::TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_half;
    texDesc.numChannels = 2;
    texDesc.faces = tarsk::test::quadGrid(2, 1, Ptex::Res(4, 3));
    texDesc.texel = [](int f, int u, int v, int c) { return float(f * 100 + u * 10 + v + c) * 0.125f; };
    const std::string path = scratchPath("nometa.ptx");
    std::string message;
    ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, message)) << message;

    Ptex::String error;
    PtexWriter* writer = PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_half, 2, -1, 2, error);
    ASSERT_TRUE(writer) << error;
    tarsk::test::TextureLayout edited = texDesc;
    edited.faces[1].res = Ptex::Res(2, 5);
    edited.texel = [](int, int u, int v, int c) { return float(u - v + c) * 0.5f; };
    const std::vector<uint8_t> newTexels = tarsk::test::makeFaceTexels(edited, 1);
    EXPECT_TRUE(writer->writeFace(1, edited.faces[1].faceInfo(), newTexels.data()));
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();

    auto checkFaces = [&](bool expectEdits) {
        PtexPtr<PtexTexture> tex(PtexTexture::open(path.c_str(), error));
        ASSERT_TRUE(tex) << error;
        EXPECT_EQ(tex->hasEdits(), expectEdits);
        EXPECT_EQ(tex->getFaceInfo(1).res, Ptex::Res(2, 5));
        std::vector<uint8_t> texels(newTexels.size());
        tex->getData(1, texels.data(), 0);
        EXPECT_EQ(texels, newTexels);
        const std::vector<uint8_t> face0 = tarsk::test::makeFaceTexels(texDesc, 0);
        texels.assign(face0.size(), 0);
        tex->getData(0, texels.data(), 0);
        EXPECT_EQ(texels, face0);
    };
    checkFaces(true);
    ASSERT_TRUE(PtexWriter::applyEdits(path.c_str(), error)) << error;
    checkFaces(false);
    const WrittenFile file = tarsk::test::loadWrittenFile(path);
    EXPECT_EQ(file.nlevels, 2);  // face 0 (16x8) keeps its stored reduction
    EXPECT_EQ(file.levels[1].nfaces, 1u);

    // applyEdits on a file without edits leaves it untouched.
    const std::vector<uint8_t> before = readBytes(path);
    ASSERT_TRUE(PtexWriter::applyEdits(path.c_str(), error)) << error;
    EXPECT_EQ(readBytes(path), before);

    // A full rewrite that only changes a mode still rewrites the file.
    writer = PtexWriter::edit(path.c_str(), false, Ptex::mt_quad, Ptex::dt_half, 2, -1, 2, error);
    ASSERT_TRUE(writer) << error;
    writer->setBorderModes(Ptex::m_periodic, Ptex::m_black);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
    EXPECT_EQ(tarsk::test::loadWrittenFile(path).uBorderMode, 2);
    checkFaces(false);
}

// The edit records of the reference-written edited sample, replayed through our incremental
// writer on the file as it was before its edits, give the same file byte for byte.
TEST(WriterEdit, ReferenceEditRecordsReplayByteForByte)
{
    const std::string source = tarsk::test::testDataDir() + "/edits_u8.ptx";
    if (!fs::exists(source)) GTEST_SKIP() << "reference Ptex files not found at " << tarsk::test::testDataDir();
    const WrittenFile original = tarsk::test::loadWrittenFile(source);
    ASSERT_GT(original.editDataSize, 0u);
    const uint64_t editStart = original.editDataPos, editEnd = editStart + original.editDataSize;

    // The file before its edits: everything up to the edit section, with no edit data.
    const std::string path = scratchPath("replay.ptx");
    {
        std::vector<uint8_t> base(original.bytes.begin(), original.bytes.begin() + long(editStart));
        for (int i = 0; i < 8; ++i) base[size_t(88 + i)] = 0;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(base.data()), long(base.size()));
    }
    const Ptex::MeshType mt = Ptex::MeshType(original.meshType);
    const Ptex::DataType dt = Ptex::DataType(original.dataType);
    const int P = original.pixelSize();
    Ptex::String error;
    PtexWriter* writer = nullptr;
    auto openWriter = [&] {
        writer = PtexWriter::edit(path.c_str(), true, mt, dt, original.nchannels, original.alphaChannel,
                                  int(original.nfaces), error);
        ASSERT_TRUE(writer) << error;
    };
    openWriter();
    int faceRecords = 0, metaRecords = 0;
    for (uint64_t pos = editStart; pos < editEnd;) {
        const uint8_t type = original.bytes[pos];
        const uint32_t size = original.u32(pos + 1);
        const uint64_t body = pos + 5;
        if (type == 0) {
            const int faceid = int(original.u32(body));
            Ptex::FaceInfo info;
            std::memcpy(&info, &original.bytes[body + 4], 20);
            const uint32_t header = original.u32(body + 24);
            if (info.isConstant()) {
                EXPECT_TRUE(writer->writeConstantFace(faceid, info, &original.bytes[body + 28]));
            } else {
                std::vector<uint8_t> texels;
                std::string message;
                ASSERT_TRUE(original.decodeBlockAt(body + 28 + uint64_t(P), header, info.res, texels, message))
                    << message;
                EXPECT_TRUE(writer->writeFace(faceid, info, texels.data()));
            }
            ++faceRecords;
        } else if (type == 1) {
            std::vector<uint8_t> raw;
            ASSERT_TRUE(original.inflateAt(body + 8, original.u32(body), original.u32(body + 4), raw));
            std::vector<tarsk::test::WrittenMetaRecord> records;
            ASSERT_TRUE(tarsk::test::parseMetaRecords(raw, records));
            for (const auto& record : records) {
                const int count = int(record.data.size());
                const char* key = record.key.c_str();
                const void* value = record.data.data();
                switch (record.type) {
                case Ptex::mdt_string: writer->writeMeta(key, static_cast<const char*>(value)); break;
                case Ptex::mdt_int8: writer->writeMeta(key, static_cast<const int8_t*>(value), count); break;
                case Ptex::mdt_int16: writer->writeMeta(key, static_cast<const int16_t*>(value), count / 2); break;
                case Ptex::mdt_int32: writer->writeMeta(key, static_cast<const int32_t*>(value), count / 4); break;
                case Ptex::mdt_float: writer->writeMeta(key, static_cast<const float*>(value), count / 4); break;
                case Ptex::mdt_double: writer->writeMeta(key, static_cast<const double*>(value), count / 8); break;
                }
            }
            // A meta data record is written when its editing session closes.
            ASSERT_TRUE(writer->close(error)) << error;
            writer->release();
            openWriter();
            ++metaRecords;
        }
        pos = body + size;
    }
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
    EXPECT_GE(faceRecords, 4);
    EXPECT_GE(metaRecords, 1);
    const std::vector<uint8_t> replayed = readBytes(path);
    EXPECT_EQ(replayed.size(), original.bytes.size());
    EXPECT_TRUE(replayed == original.bytes);
}

TEST(WriterEdit, EditErrorsLeaveFilesAlone)
{
    const std::string path = scratchPath("errors.ptx");
    writeExample(path);
    const std::vector<uint8_t> before = readBytes(path);
    Ptex::String error;

    for (bool incremental : {true, false}) {
        error.clear();
        EXPECT_FALSE(PtexWriter::edit(path.c_str(), incremental, Ptex::mt_quad, Ptex::dt_uint16, 3, -1, 2, error));
        EXPECT_EQ(error.rfind("PtexWriter::edit error: header doesn't match existing file, conversions not "
                              "currently supported",
                              0),
                  0u)
            << error;
    }
    EXPECT_EQ(readBytes(path), before);

    // A directory exists but cannot be opened for update: no writer, nothing replaced.
    const std::string dir = scratchPath("a_directory.ptx");
    fs::create_directories(dir);
    error.clear();
    EXPECT_FALSE(PtexWriter::edit(dir.c_str(), false, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error));
    EXPECT_EQ(error, "Can't open ptex file for update: " + dir + "\nIs a directory");
    EXPECT_TRUE(fs::is_directory(dir));

    // Not a Ptex file, incrementally.
    const std::string text = scratchPath("text.ptx");
    std::ofstream(text) << std::string(100, 'x');
    error.clear();
    EXPECT_FALSE(PtexWriter::edit(text.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error));
    EXPECT_EQ(error, "Not a ptex file: " + text + "\nPtex file: " + text);
    error.clear();
    EXPECT_FALSE(PtexWriter::edit(text.c_str(), false, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error));
    EXPECT_EQ(error, "Not a ptex file: " + text);

    // A missing file is created by edit, as by open.
    const std::string missing = scratchPath("created_by_edit.ptx");
    fs::remove(missing);
    PtexWriter* writer = PtexWriter::edit(missing.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 1, -1, 1, error);
    ASSERT_TRUE(writer) << error;
    writer->release();
    EXPECT_TRUE(fs::exists(missing));

    // After an error the incremental writer refuses further writes, and close reports it.
    writer = PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 2, error);
    ASSERT_TRUE(writer) << error;
    const uint8_t value[3] = {1, 2, 3};
    EXPECT_FALSE(writer->writeConstantFace(5, Ptex::FaceInfo(), value));
    EXPECT_FALSE(writer->writeConstantFace(0, Ptex::FaceInfo(), value));
    EXPECT_FALSE(writer->close(error));
    EXPECT_EQ(error, "PtexWriter error: faceid out of range\nPtex file: " + path);
    writer->release();
    EXPECT_EQ(readBytes(path), before);
}

}  // namespace
