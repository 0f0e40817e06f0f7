// PtexUtils: the exact arithmetic of reductions, averages, premultiplication and conversions
// (worked values from the file format), layout helpers, and the reduction face order.
#include <PtexHalf.h>
#include <PtexUtils.h>
#include <Ptexture.h>

#include "PtexFilterMath.h"

#include "FloatBits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using tarsk::test::bitsFloat;
using tarsk::test::floatBits;

// An 8x8 single-channel image whose top-left 2x2 block is (a b / c d) and whose other texels
// are `rest`; returns the first texel of its 2x2 box reduction.
template <typename T>
T firstReduced(T a, T b, T c, T d, T rest, Ptex::DataType dt)
{
    std::vector<T> image(64, rest);
    image[0] = a;
    image[1] = b;
    image[8] = c;
    image[9] = d;
    std::vector<T> out(16);
    PtexUtils::reduce(image.data(), 8 * sizeof(T), 8, 8, out.data(), 4 * sizeof(T), dt, 1);
    return out[0];
}

TEST(Utils, BoxReductionFollowsTheTypeRules)
{
    EXPECT_EQ(firstReduced<uint8_t>(1, 2, 3, 5, 0, Ptex::dt_uint8), 2);  // 11/4 truncates
    EXPECT_EQ(firstReduced<uint16_t>(65535, 65535, 65535, 65534, 0, Ptex::dt_uint16), 65534);
    // Summation order ((a + b) + c) + d: 1e8 + 1 loses the 1, -1e8 cancels, + 1 gives 1.
    EXPECT_EQ(firstReduced<float>(1e8f, 1.0f, -1e8f, 1.0f, 0.0f, Ptex::dt_float), 0.25f);
    const PtexHalf one(1.0f), next(bitsFloat(0x3f802000));  // 1 + 2^-10
    PtexHalf zero;
    zero.bits = 0;
    EXPECT_EQ(firstReduced<PtexHalf>(one, one, next, next, zero, Ptex::dt_half).bits, 0x3c01);
}

TEST(Utils, SingleAxisReductionsHalveOneDirection)
{
    const uint8_t image[2 * 4] = {10, 21, 30, 41, 50, 61, 70, 81};  // 4 x 2, one channel
    uint8_t u[4], v[4];
    PtexUtils::reduceu(image, 4, 4, 2, u, 2, Ptex::dt_uint8, 1);
    PtexUtils::reducev(image, 4, 4, 2, v, 4, Ptex::dt_uint8, 1);
    EXPECT_EQ(std::vector<int>(u, u + 4), (std::vector<int>{15, 35, 55, 75}));
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{30, 41, 50, 61}));
}

TEST(Utils, TriangleReductionAveragesTheFourSubTriangles)
{
    // 4x4 triangle texels with distinct values; each coarse texel (i, j) averages the fine
    // texels (2i,2j), (2i+1,2j), (2i,2j+1) and the mirrored inverted one (3-2j, 3-2i).
    float image[16];
    for (int k = 0; k < 16; ++k) image[k] = float(k * k);
    auto s = [&](int u, int v) { return image[v * 4 + u]; };
    float out[4];
    PtexUtils::reduceTri(image, 16, 4, 4, out, 8, Ptex::dt_float, 1);
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i) {
            const float expected =
                0.25f * (((s(2 * i, 2 * j) + s(2 * i + 1, 2 * j)) + s(2 * i, 2 * j + 1)) + s(3 - 2 * j, 3 - 2 * i));
            EXPECT_EQ(out[j * 2 + i], expected) << i << "," << j;
        }
    // A constant triangle stays constant at every level.
    std::vector<uint16_t> flat(64 * 64, 777), half(32 * 32);
    PtexUtils::reduceTri(flat.data(), 128, 64, 64, half.data(), 64, Ptex::dt_uint16, 1);
    for (uint16_t value : half) ASSERT_EQ(value, 777);
}

TEST(Utils, AverageTruncatesAndStaysExactForHugeFaces)
{
    uint8_t ramp[16];
    for (int k = 0; k < 16; ++k) ramp[k] = uint8_t(17 * k);
    uint8_t mean = 0;
    PtexUtils::average(ramp, 4, 4, 4, &mean, Ptex::dt_uint8, 1);
    EXPECT_EQ(mean, 127);  // 127.5 truncated

    // Past 2^24 texels a single-precision sum stalls; the mean must still be right.
    const int side = 8192;
    std::vector<uint8_t> big(size_t(side) * side, 255);
    big[12345] = 254;
    PtexUtils::average(big.data(), side, side, side, &mean, Ptex::dt_uint8, 1);
    EXPECT_EQ(mean, 254);
}

TEST(Utils, PremultiplicationChannelsAndArithmetic)
{
    uint8_t texel[2] = {200, 128};
    PtexUtils::multalpha(texel, 1, Ptex::dt_uint8, 2, 1);
    EXPECT_EQ(texel[0], 100);
    EXPECT_EQ(texel[1], 128);

    // Alpha in the middle: channels after it are never multiplied; alpha first: all others are.
    uint16_t mid[3] = {40000, 32768, 50000};
    PtexUtils::multalpha(mid, 1, Ptex::dt_uint16, 3, 1);
    EXPECT_EQ(mid[0], uint16_t(float(40000) * ((1.f / 65535.f) * 32768.f)));
    EXPECT_EQ(mid[2], 50000);
    float first[3] = {0.5f, 0.8f, 0.25f};
    PtexUtils::multalpha(first, 1, Ptex::dt_float, 3, 0);
    EXPECT_EQ(first[0], 0.5f);
    EXPECT_EQ(first[1], 0.8f * 0.5f);
    EXPECT_EQ(first[2], 0.25f * 0.5f);

    // Dividing back: fl(101 * fl(255 / 129)) = 199.65 -> 199; zero alpha leaves the texel alone;
    // results past the integer range clamp.
    uint8_t back[2] = {101, 129};
    PtexUtils::divalpha(back, 1, Ptex::dt_uint8, 2, 1);
    EXPECT_EQ(back[0], 199);
    uint8_t transparent[2] = {7, 0};
    PtexUtils::divalpha(transparent, 1, Ptex::dt_uint8, 2, 1);
    EXPECT_EQ(transparent[0], 7);
    uint8_t over[2] = {200, 100};
    PtexUtils::divalpha(over, 1, Ptex::dt_uint8, 2, 1);
    EXPECT_EQ(over[0], 255);
}

TEST(Utils, DifferenceCodingRunsAcrossPlanes)
{
    // The 2x2, 3-channel example: planar 0 21 42 63 | 7 28 49 70 | 14 35 56 77.
    const uint8_t texels[12] = {0, 7, 14, 21, 28, 35, 42, 49, 56, 63, 70, 77};
    uint8_t planar[12];
    PtexUtils::deinterleave(texels, 6, 2, 2, planar, 2, Ptex::dt_uint8, 3);
    EXPECT_EQ(std::vector<int>(planar, planar + 12), (std::vector<int>{0, 21, 42, 63, 7, 28, 49, 70, 14, 35, 56, 77}));
    PtexUtils::encodeDifference(planar, 12, Ptex::dt_uint8);
    EXPECT_EQ(std::vector<int>(planar, planar + 12),
              (std::vector<int>{0, 21, 21, 21, 200, 21, 21, 21, 200, 21, 21, 21}));
    PtexUtils::decodeDifference(planar, 12, Ptex::dt_uint8);
    uint8_t back[12];
    PtexUtils::interleave(planar, 2, 2, 2, back, 6, Ptex::dt_uint8, 3);
    EXPECT_EQ(std::memcmp(back, texels, 12), 0);

    // Random 16-bit data survive the round trip; float data are left untouched.
    std::mt19937 rng(7);
    std::vector<uint16_t> values(999);
    for (uint16_t& x : values) x = uint16_t(rng());
    std::vector<uint16_t> coded = values;
    PtexUtils::encodeDifference(coded.data(), int(coded.size() * 2), Ptex::dt_uint16);
    PtexUtils::decodeDifference(coded.data(), int(coded.size() * 2), Ptex::dt_uint16);
    EXPECT_EQ(coded, values);
    float f[2] = {1.5f, -2.0f};
    PtexUtils::encodeDifference(f, 8, Ptex::dt_float);
    EXPECT_EQ(f[0], 1.5f);
    EXPECT_EQ(f[1], -2.0f);
}

TEST(Utils, ConstantDetectionComparesBytes)
{
    const float zeros[4] = {0.0f, -0.0f, 0.0f, 0.0f};
    EXPECT_FALSE(PtexUtils::isConstant(zeros, 8, 2, 2, 4));
    const uint32_t nan = 0x7fc00001;
    uint32_t nans[4] = {nan, nan, nan, nan};
    EXPECT_TRUE(PtexUtils::isConstant(nans, 8, 2, 2, 4));
    nans[3] = 0x7fc00002;
    EXPECT_FALSE(PtexUtils::isConstant(nans, 8, 2, 2, 4));
    // Row padding is never compared.
    const uint8_t padded[2 * 3] = {5, 5, 99, 5, 5, 42};
    EXPECT_TRUE(PtexUtils::isConstant(padded, 3, 2, 2, 1));
}

TEST(Utils, FillCopyAndBlend)
{
    uint8_t image[3 * 8];
    std::memset(image, 0xee, sizeof(image));
    const uint8_t texel[2] = {1, 2};
    PtexUtils::fill(texel, image, 8, 3, 3, 2);
    for (int v = 0; v < 3; ++v) {
        for (int u = 0; u < 3; ++u) {
            EXPECT_EQ(image[v * 8 + 2 * u], 1);
            EXPECT_EQ(image[v * 8 + 2 * u + 1], 2);
        }
        EXPECT_EQ(image[v * 8 + 6], 0xee);  // bytes between rows are untouched
    }
    uint8_t copied[3 * 6];
    PtexUtils::copy(image, 8, copied, 6, 3, 6);
    for (int v = 0; v < 3; ++v) EXPECT_EQ(std::memcmp(copied + v * 6, image + v * 8, 6), 0);

    const uint8_t src[3] = {100, 200, 255};
    uint8_t dst[3] = {10, 20, 250};
    PtexUtils::blend(src, 0.5f, dst, true, 3, Ptex::dt_uint8, 1);
    EXPECT_EQ(dst[0], uint8_t(10 + 127));
    EXPECT_EQ(dst[1], uint8_t(20 + 100));
    EXPECT_EQ(dst[2], uint8_t(250 + 50));  // the sum wraps
}

TEST(Utils, ConversionsToAndFromFloat)
{
    const uint8_t u8[3] = {0, 128, 255};
    float out[3];
    Ptex::ConvertToFloat(out, u8, Ptex::dt_uint8, 3);
    EXPECT_EQ(floatBits(out[1]), floatBits(128.0f * (1.f / 255.f)));
    EXPECT_EQ(out[2], 255.0f * (1.f / 255.f));
    PtexHalf negZero;
    negZero.bits = 0x8000;
    Ptex::ConvertToFloat(out, &negZero, Ptex::dt_half, 1);
    EXPECT_EQ(floatBits(out[0]), 0u);  // -0 becomes +0
    const float negZeroFloat = -0.0f;
    Ptex::ConvertToFloat(out, &negZeroFloat, Ptex::dt_float, 1);
    EXPECT_EQ(floatBits(out[0]), 0x80000000u);

    const float in[5] = {0.998f, 1.2f, -1.0f, std::nanf(""), 0.5f};
    uint8_t back[5];
    Ptex::ConvertFromFloat(back, in, Ptex::dt_uint8, 5);
    EXPECT_EQ(std::vector<int>(back, back + 5), (std::vector<int>{254, 255, 0, 0, 128}));
    uint16_t back16[2];
    Ptex::ConvertFromFloat(back16, in + 3, Ptex::dt_uint16, 2);
    EXPECT_EQ(back16[0], 0);
    EXPECT_EQ(back16[1], 32768);
    const float zeros[2] = {0.0f, -0.0f};
    PtexHalf halves[2];
    Ptex::ConvertFromFloat(halves, zeros, Ptex::dt_half, 2);
    EXPECT_EQ(halves[0].bits, 0);
    EXPECT_EQ(halves[1].bits, 0);
}

TEST(Utils, IntegerAndFloatHelpers)
{
    EXPECT_EQ(PtexUtils::floor_log2(0), 0u);
    EXPECT_EQ(PtexUtils::floor_log2(1024), 10u);
    EXPECT_EQ(PtexUtils::floor_log2(1025), 10u);
    EXPECT_EQ(PtexUtils::ceil_log2(3), 2u);
    EXPECT_EQ(PtexUtils::ceil_log2(1024), 10u);
    EXPECT_EQ(PtexUtils::ceil_log2(1025), 11u);
    EXPECT_EQ(PtexUtils::calcResFromWidth(1.0f), 0);
    EXPECT_EQ(PtexUtils::calcResFromWidth(0.5f), 1);
    EXPECT_EQ(PtexUtils::calcResFromWidth(0.3f), 2);
    EXPECT_EQ(PtexUtils::calcResFromWidth(0.25f), 2);
    EXPECT_EQ(PtexUtils::calcResFromWidth(3.0f), -1);
    EXPECT_EQ(PtexUtils::calcResFromWidth(0.0f), 127);
    EXPECT_EQ(PtexUtils::reciprocalPow2(3), 0.125f);
    EXPECT_EQ(PtexUtils::reciprocalPow2(-2), 4.0f);
    EXPECT_EQ(PtexUtils::clamp(std::nanf(""), 0.0f, 1.0f), 0.0f);
    EXPECT_EQ(PtexUtils::ones(0xf0f0u), 8u);
    EXPECT_TRUE(PtexUtils::isPowerOfTwo(0));
    EXPECT_FALSE(PtexUtils::isPowerOfTwo(6));
    EXPECT_EQ(PtexUtils::smoothstep(0.5f, 0.0f, 1.0f), 0.5f);
    EXPECT_EQ(PtexUtils::qsmoothstep(2.0f, 0.0f, 1.0f), 1.0f);
}

TEST(Utils, FilterPowersOfTwoAreExactlyLdexp)
{
    // Normal, subnormal, underflowing and overflowing exponents alike.
    for (int e = -300; e <= 300; e++)
        ASSERT_EQ(floatBits(Ptex::FilterMath::exp2i(e)), floatBits(std::ldexp(1.0f, e))) << "2^" << e;
}

TEST(Utils, ReductionOrderIsAStableSortByDescendingKey)
{
    // The nine-face example: keys 7, 1, 1, 4, 8, 2, 2, 4, 1 give the order 4 0 3 7 5 6 1 2 8.
    const int res[9][2] = {{8, 7}, {1, 2}, {3, 1}, {5, 4}, {9, 8}, {2, 4}, {6, 2}, {7, 4}, {2, 1}};
    std::vector<Ptex::FaceInfo> faces(9);
    for (int f = 0; f < 9; ++f) faces[size_t(f)].res = Ptex::Res(int8_t(res[f][0]), int8_t(res[f][1]));
    std::vector<uint32_t> rfaceids(9), faceids(9);
    PtexUtils::genRfaceids(faces.data(), 9, rfaceids.data(), faceids.data());
    EXPECT_EQ(faceids, (std::vector<uint32_t>{4, 0, 3, 7, 5, 6, 1, 2, 8}));
    for (uint32_t r = 0; r < 9; ++r) EXPECT_EQ(rfaceids[faceids[r]], r);

    // A constant face sorts with key 1, whatever its resolution.
    faces[4].flags = Ptex::FaceInfo::flag_constant;
    PtexUtils::genRfaceids(faces.data(), 9, rfaceids.data(), faceids.data());
    EXPECT_EQ(faceids, (std::vector<uint32_t>{0, 3, 7, 5, 6, 1, 2, 4, 8}));
}

}  // namespace
