// The file index parsed straight from bytes (no input handler, no reader): what it keeps of a
// written file, the errors of cut and patched bytes as codes, the reduction order of faces
// (the writer's order, edits kept in their stored place), and which faces the reduced levels
// hold, also for a level that cuts through the faces of one key.
#include <PtexUtils.h>
#include <Ptexture.h>

#include "FileBytes.h"
#include "PtexFileIndex.h"
#include "PtexIO.h"
#include "TestData.h"
#include "TextureMaker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Ptex::ReadErrorCode;

// A ByteSource over bytes in memory.
class BytesSource final : public Ptex::ByteSource {
public:
    explicit BytesSource(const Bytes& bytes) : _bytes(bytes) {}
    uint64_t size() const override { return _bytes.size(); }
    bool readAt(uint64_t pos, void* dst, size_t size, Ptex::ReadError& error) override
    {
        if (!Ptex::PtexIO::inFile(pos, size, _bytes.size())) {
            error = Ptex::ReadError(ReadErrorCode::readFailed);
            return false;
        }
        memcpy(dst, _bytes.data() + pos, size);
        return true;
    }

private:
    const Bytes& _bytes;
};

Bytes writtenBytes(const std::string& name, const tarsk::test::TextureLayout& layout)
{
    std::filesystem::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/FileIndex_" + name;
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, layout, error)) << error;
    return tarsk::test::readBytes(path);
}

ReadErrorCode parseError(const Bytes& bytes)
{
    BytesSource source(bytes);
    Ptex::FileIndex index;
    Ptex::ReadError error;
    return Ptex::parseFileIndex(source, false, index, error) ? ReadErrorCode::none : error.code;
}

tarsk::test::TextureLayout mixedLayout()
{
    tarsk::test::TextureLayout layout;
    layout.dataType = Ptex::dt_uint8;
    layout.numChannels = 3;
    layout.faces = tarsk::test::quadGrid(3, 2, Ptex::Res(4, 4));
    layout.faces[1].res = Ptex::Res(6, 3);
    layout.faces[2].res = Ptex::Res(2, 5);
    layout.faces[4].constant = true;
    layout.texel = [](int f, int u, int v, int c) { return float((f * 31 + u * 7 + v * 3 + c) % 200) / 255.f; };
    return layout;
}

TEST(FileIndex, KeepsTheHeaderFacesConstantsAndLevelsOfAWrittenFile)
{
    const tarsk::test::TextureLayout layout = mixedLayout();
    const Bytes bytes = writtenBytes("mixed.ptx", layout);
    BytesSource source(bytes);
    Ptex::FileIndex index;
    Ptex::ReadError error;
    ASSERT_TRUE(Ptex::parseFileIndex(source, false, index, error)) << int(error.code);
    EXPECT_EQ(index.numFaces(), 6);
    EXPECT_EQ(index.pixelSize, 3);
    EXPECT_EQ(index.fileSize, bytes.size());
    EXPECT_GT(index.numLevels(), 1);
    for (int f = 0; f < 6; ++f) {
        EXPECT_EQ(index.faces[f].res, layout.faces[f].faceInfo().res) << f;
        for (int e = 0; e < 4; ++e) EXPECT_EQ(index.faces[f].adjface(e), layout.faces[f].adjfaces[e]) << f;
    }
    EXPECT_TRUE(index.faces[4].isConstant());
    const std::vector<unsigned char> constant = tarsk::test::makeFaceTexels(layout, 4);
    EXPECT_EQ(memcmp(index.constantValue(4), constant.data(), 3), 0);

    // The reduction order is the writer's (PtexUtils::genRfaceids), and each stored level holds
    // exactly the faces its count says, by that order.
    std::vector<uint32_t> order(6), expected(6), faceids(6);
    index.reductionOrder(order.data());
    Ptex::PtexUtils::genRfaceids(index.faces.data(), 6, expected.data(), faceids.data());
    EXPECT_EQ(order, expected);
    for (int level = 1; level < index.numLevels(); ++level)
        for (int f = 0; f < 6; ++f)
            EXPECT_EQ(index.levelHolds(level, f), order[f] < index.levelInfo[level].nfaces ? 1 : 0)
                << "level " << level << " face " << f;
}

TEST(FileIndex, CutAndPatchedBytesGiveTheirErrorCodes)
{
    const Bytes bytes = writtenBytes("codes.ptx", mixedLayout());
    EXPECT_EQ(parseError(Bytes()), ReadErrorCode::notPtexFile);
    EXPECT_EQ(parseError(Bytes(bytes.begin(), bytes.begin() + 4)), ReadErrorCode::readFailed);
    EXPECT_EQ(parseError(Bytes(bytes.begin(), bytes.begin() + 120)), ReadErrorCode::sectionsPastEnd);

    Bytes patched = bytes;
    patched[4] = 3;  // version
    EXPECT_EQ(parseError(patched), ReadErrorCode::unsupportedVersion);
    patched = bytes;
    patched[8] = 7;  // mesh type
    EXPECT_EQ(parseError(patched), ReadErrorCode::invalidMeshType);
    patched = bytes;
    patched[12] = 9;  // data type
    EXPECT_EQ(parseError(patched), ReadErrorCode::invalidFileHeader);
    // The face info block right after the headers: a flipped byte in its zip stream.
    patched = bytes;
    patched[Ptex::PtexIO::kHeaderSize + Ptex::PtexIO::kExtHeaderSize + 6] ^= 0x55;
    EXPECT_EQ(parseError(patched), ReadErrorCode::unzipFailed);
}

TEST(FileIndex, EditedFacesKeepTheirStoredPlaceInTheReducedLevels)
{
    const std::string path = tarsk::test::scratchDir() + "/FileIndex_edited.ptx";
    tarsk::test::TextureLayout layout = mixedLayout();
    {
        const Bytes original = writtenBytes("edited.ptx", layout);
        ASSERT_FALSE(original.empty());
    }
    std::string error;
    {
        PtexPtr<PtexWriter> writer(
            PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, 6, error));
        ASSERT_TRUE(writer) << error;
        std::vector<uint8_t> texels(3 * 2);
        for (size_t i = 0; i < texels.size(); ++i) texels[i] = uint8_t(40 + 9 * i);
        // Face 1 (6 x 3, key 3) becomes 2 x 1 (key 0); face 0 is edited to a constant.
        ASSERT_TRUE(writer->writeFace(1, Ptex::FaceInfo(Ptex::Res(1, 0)), texels.data()));
        const uint8_t value[3] = {1, 2, 3};
        ASSERT_TRUE(writer->writeConstantFace(0, Ptex::FaceInfo(Ptex::Res(4, 4)), value));
        ASSERT_TRUE(writer->close(error)) << error;
    }
    const Bytes bytes = tarsk::test::readBytes(path);
    BytesSource source(bytes);
    Ptex::FileIndex index;
    Ptex::ReadError readError;
    ASSERT_TRUE(Ptex::parseFileIndex(source, false, index, readError)) << int(readError.code);
    ASSERT_TRUE(index.hasEdits);
    EXPECT_TRUE(index.faces[1].hasEdits());
    EXPECT_EQ(index.faces[1].res, Ptex::Res(1, 0));
    EXPECT_EQ(index.storedKey(1), 3) << "the key as stored, not as edited";
    EXPECT_EQ(index.storedKey(0), 4);
    EXPECT_TRUE(index.faceEdits.at(1).hasData);
    EXPECT_FALSE(index.faceEdits.at(0).hasData);
    EXPECT_EQ(memcmp(index.constantValue(0), "\x01\x02\x03", 3), 0);
}

TEST(FileIndex, ALevelThatCutsThroughOneKeyAsksForTheRank)
{
    // Keys 5, 3, 3, 3, 1 (constant); a level of 3 faces holds key 5 and two of the key-3 faces.
    Ptex::FileIndex index;
    index.header.nfaces = 5;
    index.header.nlevels = 3;
    index.faces.resize(5);
    const int8_t log2[5] = {5, 3, 4, 3, 2};
    for (int f = 0; f < 5; ++f) index.faces[f].res = Ptex::Res(log2[f], f == 2 ? 3 : log2[f]);
    index.faces[4].flags = Ptex::FaceInfo::flag_constant;
    index.levelInfo.resize(3);
    index.levelInfo[0].nfaces = 5;
    index.levelInfo[1].nfaces = 3;
    index.levelInfo[2].nfaces = 1;
    index.computeLevelMembers();
    EXPECT_EQ(index.levelHolds(1, 0), 1);
    EXPECT_EQ(index.levelHolds(1, 1), -1);
    EXPECT_EQ(index.levelHolds(1, 2), -1);
    EXPECT_EQ(index.levelHolds(1, 4), 0);
    EXPECT_EQ(index.levelHolds(2, 0), 1);
    EXPECT_EQ(index.levelHolds(2, 3), 0);
    std::vector<uint32_t> order(5);
    index.reductionOrder(order.data());
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
}

}  // namespace
