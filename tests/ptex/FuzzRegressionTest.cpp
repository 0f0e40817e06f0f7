// Inputs found by the fuzz targets in fuzz/, kept as regression cases. Each case builds its
// input with our own writer and then changes the bytes the fuzzer changed.
#include "TestData.h"

#include <Ptexture.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string writeQuadFile(const std::string& name)
{
    std::filesystem::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/" + name;
    Ptex::String error;
    PtexPtr<PtexWriter> writer(PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 1, -1, 2, error));
    EXPECT_TRUE(writer) << error;
    if (!writer) return path;
    int adj0[4] = {-1, 1, -1, -1}, adj1[4] = {-1, -1, -1, 0};
    int edges[4] = {0, 3, 0, 1};
    std::vector<uint8_t> texels(16);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = static_cast<uint8_t>(i * 16);
    EXPECT_TRUE(writer->writeFace(0, Ptex::FaceInfo(Ptex::Res(2, 2), adj0, edges), texels.data()));
    EXPECT_TRUE(writer->writeFace(1, Ptex::FaceInfo(Ptex::Res(2, 2), adj1, edges), texels.data()));
    EXPECT_TRUE(writer->close(error)) << error;
    return path;
}

// Overwrites a little-endian 32-bit header field.
void patchU32(const std::string& path, std::streamoff offset, uint32_t value)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xff);
    file.seekp(offset);
    file.write(bytes, 4);
}

struct CollectedErrors : PtexErrorHandler {
    void reportError(const char* error) override { messages += std::string(error) + "\n"; }
    std::string messages;
};

// Overwrites a little-endian 16-bit header field.
void patchU16(const std::string& path, std::streamoff offset, uint16_t value)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const char bytes[2] = {static_cast<char>(value & 0xff), static_cast<char>(value >> 8)};
    file.seekp(offset);
    file.write(bytes, 2);
}

}  // namespace

// Border and edge filter modes past the known values are answered and filtered as clamp and
// none. The separable filters once read the raw value through the enumeration type, which is
// undefined behaviour for values outside its range (found by the reader fuzz target); the
// texture no longer answers such values at all.
TEST(FuzzRegression, UnknownBorderModesFilterAsClamp)
{
    const std::string clampPath = writeQuadFile("fuzz-border-clamp.ptx");
    const std::string oddPath = writeQuadFile("fuzz-border-odd.ptx");
    // Extension header fields: ubordermode at byte 64, vbordermode at 68, edgefiltermode at 70.
    patchU16(oddPath, 64, 258);
    patchU16(oddPath, 68, 7);
    patchU16(oddPath, 70, 9);

    Ptex::String error;
    PtexPtr<PtexTexture> clamp(PtexTexture::open(clampPath.c_str(), error));
    ASSERT_TRUE(clamp) << error;
    PtexPtr<PtexTexture> odd(PtexTexture::open(oddPath.c_str(), error));
    ASSERT_TRUE(odd) << error;
    EXPECT_EQ(odd->uBorderMode(), Ptex::m_clamp);
    EXPECT_EQ(odd->vBorderMode(), Ptex::m_clamp);
    EXPECT_EQ(odd->edgeFilterMode(), Ptex::efm_none);
    EXPECT_EQ(odd->getInfo().uBorderMode, Ptex::m_clamp);

    for (int type = PtexFilter::f_point; type <= PtexFilter::f_mitchell; ++type) {
        SCOPED_TRACE(type);
        const PtexFilter::Options options(static_cast<PtexFilter::FilterType>(type));
        PtexPtr<PtexFilter> clampFilter(PtexFilter::getFilter(clamp, options));
        PtexPtr<PtexFilter> oddFilter(PtexFilter::getFilter(odd, options));
        ASSERT_TRUE(clampFilter && oddFilter);
        // Footprints that reach over the mesh border on every side.
        const float points[][2] = {{0.02f, 0.02f}, {0.98f, 0.5f}, {0.5f, 0.98f}, {0.01f, 0.99f}};
        for (int face = 0; face < 2; ++face) {
            for (const auto& p : points) {
                float expected = -1, actual = -2;
                clampFilter->eval(&expected, 0, 1, face, p[0], p[1], 0.4f, 0, 0, 0.4f);
                oddFilter->eval(&actual, 0, 1, face, p[0], p[1], 0.4f, 0, 0, 0.4f);
                EXPECT_EQ(actual, expected) << "face " << face << " at " << p[0] << ", " << p[1];
            }
        }
    }
}

// A meta data size claim of almost 4 GiB behind 67 stored bytes: no inflate can produce it, so the
// reader refuses it before allocating (the reader fuzz target ran out of memory on it), the
// texture stays readable, and the fault is reported.
TEST(FuzzRegression, ImpossibleMetaDataSizeIsRefusedBeforeAllocation)
{
    const std::string path = writeQuadFile("fuzz-meta-size.ptx");
    patchU32(path, 60, 0xffff0045u);  // header field metadatamemsize

    CollectedErrors errors;
    PtexPtr<PtexCache> cache(PtexCache::create(4, 16 << 20, false, nullptr, &errors));
    Ptex::String error;
    PtexPtr<PtexTexture> texture(cache->get(path.c_str(), error));
    ASSERT_TRUE(texture) << error;
    PtexPtr<PtexMetaData> meta(texture->getMetaData());
    if (meta) {
        EXPECT_EQ(meta->numKeys(), 0);
    }
    EXPECT_NE(errors.messages.find("meta data size"), std::string::npos) << errors.messages;
}
