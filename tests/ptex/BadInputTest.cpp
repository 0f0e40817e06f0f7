// The broken reference inputs (bad/*.ptx): the exact error texts where they are part of the
// contract, a clean failure elsewhere, and for files that do open, defined zeros and the
// error state after a failed read. Nothing may be written to standard error for an error that
// is returned, and a failed path stays failed on a second get.
#include <Ptexture.h>

#include "TestData.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class CollectingErrorHandler : public PtexErrorHandler {
public:
    void reportError(const char* error) override { messages.push_back(error); }
    std::vector<std::string> messages;
};

// Runs each case from the test data folder, so that paths match the recorded texts.
class BadInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::is_directory(tarsk::test::testDataDir() + "/bad"))
            GTEST_SKIP() << "reference Ptex data not found at " << tarsk::test::testDataDir();
        saved = fs::current_path();
        fs::current_path(tarsk::test::testDataDir());
        cache = PtexCache::create(0, 0, false, nullptr, &handler);
    }
    void TearDown() override
    {
        if (cache) cache->release();
        if (!saved.empty()) fs::current_path(saved);
    }

    // get() must fail; returns the error text, and checks that a second get fails silently.
    std::string failedOpen(const std::string& path)
    {
        Ptex::String error;
        PtexTexture* texture = cache->get(path.c_str(), error);
        EXPECT_EQ(texture, nullptr) << path;
        if (texture) texture->release();
        Ptex::String second = "unchanged";
        EXPECT_EQ(cache->get(path.c_str(), second), nullptr) << path;
        EXPECT_EQ(second, "unchanged") << path;
        EXPECT_TRUE(handler.messages.empty()) << path << ": " << handler.messages.front();
        return error;
    }

    fs::path saved;
    CollectingErrorHandler handler;
    PtexCache* cache = nullptr;
};

TEST_F(BadInputTest, ExactErrorTexts)
{
    EXPECT_EQ(failedOpen("bad/missing.ptx"), "Can't open ptex file: bad/missing.ptx\nNo such file or directory");
    EXPECT_EQ(failedOpen("bad/directory.ptx"), "Not a ptex file: bad/directory.ptx");
    EXPECT_EQ(failedOpen("bad/empty.ptx"), "Not a ptex file: bad/empty.ptx");
    EXPECT_EQ(failedOpen("bad/text.ptx"), "Not a ptex file: bad/text.ptx");
    EXPECT_EQ(failedOpen("bad/not_ptex.ptx"), "Not a ptex file: bad/not_ptex.ptx");
    EXPECT_EQ(failedOpen("bad/bad_magic.ptx"), "Not a ptex file: bad/bad_magic.ptx");
    EXPECT_EQ(failedOpen("bad/bad_version.ptx"), "Unsupported ptex file version (2): bad/bad_version.ptx");
    EXPECT_EQ(failedOpen("bad/bad_meshtype.ptx"), "Invalid mesh type (5): bad/bad_meshtype.ptx");
    // A header cut right after the magic is a read failure, not a version-0 file.
    EXPECT_EQ(failedOpen("bad/magic_only.ptx"), "PtexReader error: read failed (EOF) PtexFile: bad/magic_only.ptx\n");

    Ptex::String error;
    EXPECT_EQ(PtexTexture::open("bad/missing.ptx", error), nullptr);
    EXPECT_EQ(error, "Can't open ptex file: bad/missing.ptx\nNo such file or directory");
}

TEST_F(BadInputTest, StructuralDamageFailsTheOpenWithAReaderError)
{
    const char* cases[] = {
        "bad/bad_datatype.ptx",          "bad/trunc_in_header.ptx",      "bad/trunc_after_header.ptx",
        "bad/trunc_after_extheader.ptx", "bad/trunc_level_data.ptx",     "bad/trunc_meta.ptx",
        "bad/flip_faceinfo.ptx",         "bad/absurd_nfaces.ptx",        "bad/absurd_nlevels.ptx",
        "bad/absurd_nchannels.ptx",      "bad/absurd_extheadersize.ptx", "bad/absurd_faceinfosize.ptx",
        "bad/absurd_leveldatasize.ptx",  "bad/absurd_face_res.ptx"};
    for (const char* path : cases) {
        std::string error = failedOpen(path);
        EXPECT_EQ(error.rfind("PtexReader error: ", 0), 0u) << path << ": " << error;
        EXPECT_NE(error.find(std::string(" PtexFile: ") + path), std::string::npos) << path << ": " << error;
    }
}

TEST_F(BadInputTest, CorruptFaceDataGivesZerosAndTheErrorState)
{
    Ptex::String error;
    PtexTexture* texture = cache->get("bad/flip_face_data.ptx", error);
    ASSERT_NE(texture, nullptr) << error;
    const int pixelSize = Ptex::DataSize(texture->dataType()) * texture->numChannels();
    const Ptex::Res res = texture->getFaceInfo(1).res;
    std::vector<unsigned char> buffer(size_t(pixelSize) * res.size(), 0xcd);
    texture->getData(1, buffer.data(), 0);
    for (unsigned char b : buffer) ASSERT_EQ(b, 0) << "every row of a failed read is zero";
    ASSERT_EQ(handler.messages.size(), 1u);
    EXPECT_EQ(handler.messages[0], "PtexReader error: unzip failed, file corrupt PtexFile: bad/flip_face_data.ptx\n");

    // From now on every read answers zeros, and the header queries keep working.
    std::vector<unsigned char> face0(size_t(pixelSize) * texture->getFaceInfo(0).res.size(), 0xcd);
    texture->getData(0, face0.data(), 0);
    for (unsigned char b : face0) ASSERT_EQ(b, 0);
    float pixel[4] = {-1, -1, -1, -1};
    texture->getPixel(0, 0, 0, pixel, 0, 4);
    EXPECT_EQ(pixel[0], 0.f);
    EXPECT_EQ(pixel[3], 0.f);
    EXPECT_EQ(texture->numFaces(), 6);
    texture->release();
    Ptex::String second = "unchanged";
    EXPECT_EQ(cache->get("bad/flip_face_data.ptx", second), nullptr);
    EXPECT_EQ(second, "unchanged");

    // Purging the path allows a fresh attempt.
    cache->purge("bad/flip_face_data.ptx");
    texture = cache->get("bad/flip_face_data.ptx", error);
    ASSERT_NE(texture, nullptr);
    texture->release();
}

TEST_F(BadInputTest, OversizedMetaDataIsAReadErrorNotASilentLoss)
{
    Ptex::String error;
    PtexTexture* texture = cache->get("bad/absurd_metadatamemsize.ptx", error);
    ASSERT_NE(texture, nullptr) << error;
    PtexMetaData* meta = texture->getMetaData();
    ASSERT_NE(meta, nullptr);
    meta->release();
    ASSERT_FALSE(handler.messages.empty());
    EXPECT_EQ(handler.messages[0].rfind("PtexReader error: ", 0), 0u) << handler.messages[0];
    float pixel[2] = {-1, -1};
    texture->getPixel(0, 0, 0, pixel, 0, 2);
    EXPECT_EQ(pixel[0], 0.f) << "the texture is in the error state";
    texture->release();
}

TEST_F(BadInputTest, AdjacencyOutsideTheMeshBecomesABorder)
{
    Ptex::String error;
    PtexTexture* texture = cache->get("bad/bad_adjface.ptx", error);
    ASSERT_NE(texture, nullptr) << error;
    EXPECT_EQ(texture->getFaceInfo(0).adjface(1), -1);
    EXPECT_EQ(texture->getFaceInfo(0).adjedge(1), Ptex::e_bottom);
    EXPECT_EQ(texture->getFaceInfo(1).adjface(3), -1);
    PtexFilter* filter = PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_bicubic, true));
    if (filter) {
        float result[2] = {0, 0};
        filter->eval(result, 0, 2, 0, 0.95f, 0.5f, 0.3f, 0, 0, 0.3f);
        filter->release();
    }
    EXPECT_TRUE(handler.messages.empty());
    texture->release();
}

}  // namespace
