// Layouts, constants, names and small value semantics of the public Ptex headers, and the exact
// half-float conversions (whole-table checksums).
#include <PtexHalf.h>
#include <Ptexture.h>

#include "FloatBits.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <type_traits>

namespace {

using tarsk::test::bitsFloat;
using tarsk::test::floatBits;

TEST(ApiBasics, LayoutsAndConstantsMatchTheFileFormatAndPublicLibrary)
{
    EXPECT_EQ(sizeof(Ptex::Res), 2u);
    EXPECT_EQ(sizeof(Ptex::FaceInfo), 20u);
    EXPECT_EQ(sizeof(PtexFilter::Options), 20u);
    EXPECT_EQ(sizeof(PtexCache::Stats), 56u);
    EXPECT_EQ(sizeof(PtexTexture::Info), 32u);
    EXPECT_EQ(sizeof(PtexHalf), 2u);
    EXPECT_EQ(PtexFilter::Options().__structSize, int(sizeof(PtexFilter::Options)));
    EXPECT_EQ(PtexFilter::Options().filter, PtexFilter::f_box);
    EXPECT_EQ(int(Ptex::dt_float), 3);
    EXPECT_EQ(int(Ptex::mdt_double), 5);
    EXPECT_EQ(int(Ptex::m_periodic), 2);
    EXPECT_EQ(PtexAPIVersion, 4);
    EXPECT_EQ(PtexFileMinorVersion, 4);
    static_assert(!std::is_copy_constructible<PtexPtr<PtexTexture>>::value, "PtexPtr is not copyable");

    EXPECT_STREQ(Ptex::DataTypeName(Ptex::dt_half), "float16");
    EXPECT_STREQ(Ptex::DataTypeName(Ptex::DataType(7)), "(invalid data type)");
    EXPECT_STREQ(Ptex::MeshTypeName(Ptex::MeshType(-1)), "(invalid mesh type)");
    EXPECT_STREQ(Ptex::BorderModeName(Ptex::m_periodic), "periodic");
    EXPECT_STREQ(Ptex::EdgeFilterModeName(Ptex::efm_tanvec), "tanvec");
    EXPECT_STREQ(Ptex::EdgeIdName(Ptex::EdgeId(4)), "(invalid edge id)");
    EXPECT_STREQ(Ptex::MetaDataTypeName(Ptex::mdt_int16), "int16");
    EXPECT_EQ(Ptex::DataSize(Ptex::dt_half), 2);
    EXPECT_EQ(Ptex::OneValueInv(Ptex::dt_uint8), 1.f / 255.f);
}

TEST(ApiBasics, ResAndFaceInfoPackTheirFields)
{
    Ptex::Res r = 0;
    EXPECT_EQ(r.u(), 1);
    Ptex::Res r2(uint16_t(0x0305));
    EXPECT_EQ(r2.ulog2, 5);
    EXPECT_EQ(r2.vlog2, 3);
    EXPECT_EQ(r2.val(), 0x0305);
    EXPECT_EQ(r2.size(), 256);
    EXPECT_EQ(r2.ntiles(Ptex::Res(2, 2)), 8 * 2);
    EXPECT_EQ(r2.swappeduv(), Ptex::Res(3, 5));
    r2.clamp(Ptex::Res(4, 4));
    EXPECT_EQ(r2, Ptex::Res(4, 3));

    int adjfaces[4] = {1, 2, -1, 7};
    int adjedges[4] = {3, 2, 1, 0};
    Ptex::FaceInfo info(Ptex::Res(2, 3), adjfaces, adjedges, true);
    EXPECT_EQ(info.adjedges, 0x1b);
    EXPECT_EQ(info.adjedge(0), Ptex::e_left);
    EXPECT_EQ(info.adjface(3), 7);
    EXPECT_TRUE(info.isSubface());
    EXPECT_FALSE(info.isConstant());
    Ptex::FaceInfo blank;
    EXPECT_EQ(blank.adjfaces[2], -1);
    EXPECT_EQ(blank.flags, 0);
}

TEST(ApiBasics, HalfConversionsMatchTheReferenceRule)
{
    struct Case {
        uint32_t in;
        uint16_t half;
    };
    const Case cases[] = {
        {0x3F800000, 0x3C00}, {0xC0000000, 0xC000}, {0x3DCCCCCD, 0x2E66}, {0x3F801000, 0x3C01},
        {0x3F803000, 0x3C02}, {0x45001000, 0x6801}, {0x477FF000, 0x7C00}, {0x387BA882, 0x03EF},
        {0x33000000, 0x0001}, {0x80000000, 0x0000}, {0x00800000, 0x0000}, {0x80000001, 0x8000},
        {0xFF800000, 0xFC00}, {0x7FC00000, 0x7E00}, {0x7F802000, 0x7C01}, {0x7F800001, 0x7E00},
    };
    for (const Case& c : cases) EXPECT_EQ(PtexHalf::fromFloat(bitsFloat(c.in)), c.half) << std::hex << c.in;
    EXPECT_EQ(floatBits(PtexHalf::toFloat(0x8000)), 0x80000000u);
    EXPECT_EQ(floatBits(PtexHalf::toFloat(0x03FF)), 0x387FC000u);
    EXPECT_EQ(floatBits(PtexHalf::toFloat(0x7C01)), 0x7F802000u);

    uLong crc = crc32(0, nullptr, 0);
    for (uint32_t h = 0; h < 65536; ++h) {
        uint32_t b = floatBits(PtexHalf::toFloat(uint16_t(h)));
        unsigned char bytes[4] = {uint8_t(b), uint8_t(b >> 8), uint8_t(b >> 16), uint8_t(b >> 24)};
        crc = crc32(crc, bytes, 4);
    }
    EXPECT_EQ(crc, 0xE0C069F3u);
}

struct CountedRelease {
    int* released;
    void release() { ++*released; }
};

TEST(ApiBasics, PtexPtrReleasesExactlyOnce)
{
    int releasedA = 0, releasedB = 0;
    CountedRelease a{&releasedA}, b{&releasedB};
    {
        PtexPtr<CountedRelease> first(&a), second;
        EXPECT_EQ(second.get(), nullptr);
        first.swap(second);
        EXPECT_EQ(first.get(), nullptr);
        EXPECT_EQ(second.get(), &a);
        second.reset(&b);
        EXPECT_EQ(releasedA, 1);
        CountedRelease* raw = second;
        EXPECT_EQ(raw, &b);
    }
    EXPECT_EQ(releasedA, 1);
    EXPECT_EQ(releasedB, 1);
}

}  // namespace
