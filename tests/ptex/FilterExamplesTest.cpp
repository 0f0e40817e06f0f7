// Filter results on small hand-made textures whose exact reference outputs are known: kernel
// branches, lerp, edge rotations, extraordinary vertices, triangles and tangent vectors.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <filesystem>

#include "MemoryTexture.h"
#include "TestData.h"
#include "TextureMaker.h"

using tarsk::test::makeFaceInfo;
using tarsk::test::MemoryTexture;

namespace {

using FT = PtexFilter::FilterType;

struct Query {
    const char* id;
    FT filter;
    bool lerp;
    float sharpness;
    bool noedgeblend;
    int face;
    float u, v, uw1, vw1, uw2, vw2, width, blur;
    float expected;
};

float evalOne(PtexTexture* tx, const Query& q, int channel = 0)
{
    PtexPtr<PtexFilter> filter(
        PtexFilter::getFilter(tx, PtexFilter::Options(q.filter, q.lerp, q.sharpness, q.noedgeblend)));
    EXPECT_TRUE(filter.get());
    if (!filter) return NAN;
    float result[4] = {-7, -7, -7, -7};
    filter->eval(result, 0, tx->numChannels(), q.face, q.u, q.v, q.uw1, q.vw1, q.uw2, q.vw2, q.width, q.blur);
    return result[channel];
}

// Reference values are exact floats; allow a couple of ulps for summation order.
void expectClose(float expected, float actual, const char* id)
{
    EXPECT_NEAR(actual, expected, 4e-7f * std::fabs(expected) + 1e-9f) << "query " << id;
}

MemoryTexture* makeExample1()
{
    static const float texels[16] = {12, 200, 45, 90, 255, 0, 130, 66, 7, 180, 99, 240, 33, 150, 210, 80};
    MemoryTexture::Layout layout;
    layout.dataType = Ptex::dt_uint8;
    std::vector<MemoryTexture::LevelOverride> levels = {
        {0, 1, 1, {116, 82, 92, 157}},
        {0, 0, 0, {112}},
        {0, 1, 2, {106, 67, 127, 98, 93, 169, 91, 145}},
        {0, 2, 1, {133, 100, 87, 78, 20, 165, 154, 160}},
    };
    return MemoryTexture::create(
        layout, {makeFaceInfo(2, 2, {}, {})}, [](int, int x, int y, int) { return texels[y * 4 + x]; }, levels);
}

}  // namespace

TEST(FilterExamples, OneFaceKernelBranches)
{
    PtexPtr<MemoryTexture> tx(makeExample1());
    const Query queries[] = {
        {"1a", FT::f_point, false, 0, false, 0, 0.3f, 0.6f, 0, 0, 0, 0, 1, 0, 0.70588237f},
        {"1b", FT::f_point, false, 0, false, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0.313725501f},
        {"1c", FT::f_bilinear, false, 0, false, 0, 0.3f, 0.6f, 0, 0, 0, 0, 1, 0, 0.482117712f},
        {"1d", FT::f_bilinear, false, 0, false, 0, 0.05f, 0.5f, 0, 0, 0, 0, 1, 0, 0.513725519f},
        {"1e", FT::f_box, false, 0, false, 0, 0.3f, 0.6f, 0.3f, 0, 0, 0.2f, 1, 0, 0.465098083f},
        {"1f", FT::f_box, false, 0, false, 0, 0.3f, 0.6f, 0.2f, 0.1f, -0.1f, 0.3f, 1, 0, 0.437581778f},
        {"1g", FT::f_catmullrom, false, 0, false, 0, 0.3f, 0.6f, 0.25f, 0, 0, 0.25f, 1, 0, 0.535073459f},
        {"1h", FT::f_bspline, false, 0, false, 0, 0.3f, 0.6f, 0.25f, 0, 0, 0.25f, 1, 0, 0.432685345f},
        {"1i", FT::f_mitchell, false, 0, false, 0, 0.3f, 0.6f, 0.25f, 0, 0, 0.25f, 1, 0, 0.488581181f},
        {"1j", FT::f_bicubic, false, 0.5f, false, 0, 0.3f, 0.6f, 0.25f, 0, 0, 0.25f, 1, 0, 0.469970942f},
        {"1k", FT::f_gaussian, false, 0, false, 0, 0.3f, 0.6f, 0.25f, 0, 0, 0.25f, 1, 0, 0.461773694f},
        {"1l", FT::f_gaussian, true, 0, false, 0, 0.3f, 0.6f, 0.3f, 0, 0, 0.3f, 1, 0, 0.443346918f},
        {"1m", FT::f_bspline, false, 0, false, 0, 0.3f, 0.6f, 0.7f, 0, 0, 0.7f, 1, 0, 0.422506541f},
        {"1n", FT::f_bspline, true, 0, false, 0, 0.3f, 0.6f, 0.7f, 0, 0, 0.7f, 1, 0, 0.431972921f},
        {"1o", FT::f_bspline, false, 0, false, 0, 0.3f, 0.6f, 1.5f, 0, 0, 1.5f, 1, 0, 0.43921572f},
        {"1p", FT::f_catmullrom, false, 0, false, 0, 0, 0, 0.25f, 0, 0, 0.25f, 1, 0, -0.0653645843f},
        {"1q", FT::f_catmullrom, false, 0, false, 0, 0.3f, 0.6f, 0.05f, 0, 0, 0.05f, 3, 0.1f, 0.535073459f},
        {"1r", FT::f_box, false, 0, false, 0, 0.3f, 0.6f, 0.3f, 0, 0, 0.7f, 1, 0, 0.449579835f},
    };
    for (const Query& q : queries) expectClose(q.expected, evalOne(tx.get(), q), q.id);
    EXPECT_EQ(tx->outstandingData(), 0) << "every PtexFaceData obtained must be released";
}

TEST(FilterExamples, LerpBetweenLevels)
{
    MemoryTexture::Layout layout;
    PtexPtr<MemoryTexture> tx(MemoryTexture::create(layout, {makeFaceInfo(3, 3, {}, {})}, [](int, int i, int j, int) {
        return (float(i * i) + float(3 * j)) / 64.0f;
    }));
    const Query queries[] = {
        {"2a", FT::f_bspline, false, 0, false, 0, 0.4f, 0.7f, 0.15f, 0, 0, 0.15f, 1, 0, 0.360330492f},
        {"2b", FT::f_bspline, true, 0, false, 0, 0.4f, 0.7f, 0.15f, 0, 0, 0.15f, 1, 0, 0.355131269f},
        {"2c", FT::f_gaussian, true, 0, false, 0, 0.4f, 0.7f, 0.15f, 0, 0, 0.15f, 1, 0, 0.351545513f},
        {"2d", FT::f_catmullrom, false, 0, false, 0, 0.4f, 0.7f, 0.13f, 0, 0, 0.2f, 1, 0, 0.353247285f},
    };
    for (const Query& q : queries) expectClose(q.expected, evalOne(tx.get(), q), q.id);
}

TEST(FilterExamples, TwoFacesAlignedAndRotated)
{
    static const float face0[4] = {0, 100, 20, 120}, face1[4] = {200, 250, 210, 240};
    auto texel = [](int f, int x, int y, int) { return (f == 0 ? face0 : face1)[y * 2 + x]; };
    MemoryTexture::Layout layout;
    layout.dataType = Ptex::dt_uint8;
    const std::vector<MemoryTexture::LevelOverride> consts = {{0, 0, 0, {60}}, {1, 0, 0, {225}}};
    PtexPtr<MemoryTexture> aligned(MemoryTexture::create(
        layout, {makeFaceInfo(1, 1, {-1, 1, -1, -1}, {0, 3, 0, 0}), makeFaceInfo(1, 1, {-1, -1, -1, 0}, {0, 0, 0, 1})},
        texel, consts));
    PtexPtr<MemoryTexture> rotated(MemoryTexture::create(
        layout, {makeFaceInfo(1, 1, {-1, 1, -1, -1}, {0, 0, 0, 0}), makeFaceInfo(1, 1, {0, -1, -1, -1}, {1, 0, 0, 0})},
        texel, consts));
    struct Case {
        Query q;
        float rotatedExpected;
    };
    const Case cases[] = {
        {{"3 bilinear", FT::f_bilinear, false, 0, false, 0, 0.9f, 0.3f, 0, 0, 0, 0, 1, 0, 0.516470611f}, 0.568235278f},
        {{"3 noedgeblend", FT::f_bilinear, false, 0, true, 0, 0.9f, 0.3f, 0, 0, 0, 0, 1, 0, 0.400000036f},
         0.400000036f},
        {{"3 catmullrom", FT::f_catmullrom, false, 0, false, 0, 0.9f, 0.3f, 0.5f, 0, 0, 0.5f, 1, 0, 0.529728889f},
         0.581294656f},
        {{"3 gaussian", FT::f_gaussian, false, 0, false, 0, 0.9f, 0.3f, 0.3f, 0, 0, 0.3f, 1, 0, 0.529728889f},
         0.581294656f},
    };
    for (const Case& c : cases) {
        expectClose(c.q.expected, evalOne(aligned.get(), c.q), c.q.id);
        expectClose(c.rotatedExpected, evalOne(rotated.get(), c.q), c.q.id);
    }
}

TEST(FilterExamples, FacesAroundOneVertex)
{
    const float expected[3][4] = {
        {0.235294119f, 0.235294119f, 0.170059308f, 0.200969562f},
        {0.313725501f, 0.313725501f, 0.214489728f, 0.258986562f},
        {0.392156869f, 0.392156869f, 0.263164133f, 0.319982797f},
    };
    for (int n = 3; n <= 5; n++) {
        std::vector<Ptex::FaceInfo> faces;
        for (int j = 0; j < n; j++)
            faces.push_back(makeFaceInfo(2, 2, {(j + n - 1) % n, -1, -1, (j + 1) % n}, {3, 0, 0, 0}));
        MemoryTexture::Layout layout;
        layout.dataType = Ptex::dt_uint8;
        PtexPtr<MemoryTexture> tx(MemoryTexture::create(
            layout, faces, [](int j, int i, int k, int) { return float(20 + 40 * j + 8 * i + 4 * k); }));
        const float* e = expected[n - 3];
        const Query queries[] = {
            {"4 bilinear", FT::f_bilinear, false, 0, false, 0, 0, 0, 0, 0, 0, 0, 1, 0, e[0]},
            {"4 box", FT::f_box, false, 0, false, 0, 0, 0, 0.25f, 0, 0, 0.25f, 1, 0, e[1]},
            {"4 catmullrom", FT::f_catmullrom, false, 0, false, 0, 0.05f, 0.05f, 0.25f, 0, 0, 0.25f, 1, 0, e[2]},
            {"4 bspline", FT::f_bspline, false, 0, false, 0, 0.1f, 0.05f, 0.25f, 0, 0, 0.125f, 1, 0, e[3]},
        };
        for (const Query& q : queries) {
            SCOPED_TRACE(n);
            expectClose(q.expected, evalOne(tx.get(), q), q.id);
        }
    }
}

TEST(FilterExamples, Triangles)
{
    MemoryTexture::Layout layout;
    layout.meshType = Ptex::mt_triangle;
    layout.dataType = Ptex::dt_uint8;
    static const float face0[4] = {10, 50, 90, 130};
    PtexPtr<MemoryTexture> tx(MemoryTexture::create(
        layout, {makeFaceInfo(1, 1, {-1, 1, -1, -1}, {0, 1, 0, 0}), makeFaceInfo(2, 2, {-1, 0, -1, -1}, {0, 1, 0, 0})},
        [](int f, int x, int y, int) { return f == 0 ? face0[y * 2 + x] : float(200 + 3 * (y * 4 + x)); },
        {{0, 0, 0, {70}}, {1, 1, 1, {215, 213, 231, 230}}, {1, 0, 0, {222}}}));
    const float third = 1.0f / 3.0f;
    const Query queries[] = {
        {"5a", FT::f_point, false, 0, false, 0, 0.2f, 0.2f, 0, 0, 0, 0, 1, 0, 0.0392156877f},
        {"5b", FT::f_point, false, 0, false, 0, 0.6f, 0.2f, 0, 0, 0, 0, 1, 0, 0.196078449f},
        {"5c", FT::f_point, false, 0, false, 0, 0.4f, 0.4f, 0, 0, 0, 0, 1, 0, 0.509803951f},
        {"5d", FT::f_point, false, 0, false, 0, 0.2f, 0.6f, 0, 0, 0, 0, 1, 0, 0.352941185f},
        {"5e", FT::f_box, false, 0, false, 0, third, third, 0, 0, 0, 0, 1, 0, 0.385800421f},
        {"5f", FT::f_gaussian, false, 0, false, 0, 0.3f, 0.2f, 0.1f, 0, 0, 0.1f, 1, 0, 0.299772799f},
        {"5g", FT::f_bilinear, false, 0, false, 0, 0.45f, 0.45f, 0.1f, 0, 0, 0.1f, 1, 0, 0.535757661f},
        {"5h", FT::f_mitchell, false, 0, false, 1, 0.2f, 0.3f, 0.3f, 0.05f, -0.02f, 0.08f, 1, 0, 0.876448274f},
        {"5i", FT::f_box, false, 0, false, 1, 0.3f, 0.6f, 0.05f, 0, 0, 0.05f, 1, 0, 0.780779421f},
    };
    for (const Query& q : queries) expectClose(q.expected, evalOne(tx.get(), q), q.id);
    EXPECT_EQ(tx->outstandingData(), 0);
}

TEST(FilterExamples, TangentVectorsRotateAcrossEdges)
{
    MemoryTexture::Layout layout;
    layout.numChannels = 2;
    layout.edgeFilterMode = Ptex::efm_tanvec;
    const std::vector<Ptex::FaceInfo> faces = {makeFaceInfo(1, 1, {-1, 1, -1, -1}, {0, 0, 0, 0}),
                                               makeFaceInfo(1, 1, {0, -1, -1, -1}, {1, 0, 0, 0})};
    // Face 1 holds (1, 0) vectors; one texel differs so that the face is stored non-constant.
    PtexPtr<MemoryTexture> stored(MemoryTexture::create(layout, faces, [](int f, int x, int y, int c) {
        if (f == 0) return 0.0f;
        return c == 0 ? 1.0f : (x == 1 && y == 1 ? 0.5f : 0.0f);
    }));
    std::vector<Ptex::FaceInfo> constFaces = faces;
    constFaces[1].flags |= Ptex::FaceInfo::flag_constant;
    PtexPtr<MemoryTexture> constant(MemoryTexture::create(
        layout, constFaces, [](int f, int, int, int c) { return f == 1 && c == 0 ? 1.0f : 0.0f; }));
    for (PtexTexture* tx : {static_cast<PtexTexture*>(stored.get()), static_cast<PtexTexture*>(constant.get())}) {
        for (FT type : {FT::f_box, FT::f_bilinear}) {
            const float w = type == FT::f_box ? 0.5f : 0.0f;
            PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, PtexFilter::Options(type)));
            float result[2] = {-7, -7};
            filter->eval(result, 0, 2, 0, 0.9f, 0.5f, w, 0, 0, w, 1, 0);
            // Face 1's +u axis runs along face 0's -v direction.
            EXPECT_NEAR(result[0], 0.0f, 1e-7f);
            EXPECT_NEAR(result[1], -0.299999952f, 1e-7f);
        }
    }
}

// Writer, reader (tiles, reductions) and filter together: the reference test suite's file.
TEST(FilterExamples, WrittenFileWithTilesAndMixedResolutions)
{
    const int res[9][2] = {{8, 7}, {1, 2}, {3, 1}, {5, 4}, {9, 8}, {2, 4}, {6, 2}, {7, 4}, {2, 1}};
    const int adj[9][4] = {{3, 1, -1, -1}, {4, 2, -1, 0},  {5, -1, -1, 1}, {6, 4, 0, -1}, {7, 5, 1, 3},
                           {8, -1, 2, 4},  {-1, 7, 3, -1}, {-1, 8, 4, 6},  {-1, -1, 5, 7}};
    tarsk::test::TextureLayout texDesc;
    texDesc.dataType = Ptex::dt_uint16;
    texDesc.numChannels = 3;
    for (int f = 0; f < 9; f++) {
        tarsk::test::FaceLayout face;
        face.res = Ptex::Res(int8_t(res[f][0]), int8_t(res[f][1]));
        for (int e = 0; e < 4; e++) {
            face.adjfaces[e] = adj[f][e];
            face.adjedges[e] = (e + 2) % 4;
        }
        texDesc.faces.push_back(face);
    }
    texDesc.texel = [&](int f, int x, int y, int c) {
        const int U = 1 << res[f][0], V = 1 << res[f][1];
        uint16_t raw = 0;
        if (c == 0) raw = uint16_t((float(x) / float(U - 1)) * 65535.0f);
        if (c == 1) raw = uint16_t((float(y) / float(V - 1)) * 65535.0f);
        if (c == 2) raw = ((x ^ y) & 1) ? 65535 : 0;
        return float(raw) / 65535.0f;  // the writer converts back to the same integer
    };
    std::filesystem::create_directories(tarsk::test::scratchDir());
    const std::string path = tarsk::test::scratchDir() + "/filter-example7.ptx";
    std::string error;
    ASSERT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << error;
    Ptex::String openError;
    PtexPtr<PtexTexture> tx(PtexTexture::open(path.c_str(), openError));
    ASSERT_TRUE(tx) << openError;
    PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(FT::f_bicubic, false, 1.0f)));
    const float expected[9][2] = {
        {0.0466277562f, 0.0529335476f}, {0.110257879f, 0.115678646f}, {0.24547188f, 0.249011979f},
        {0.372732133f, 0.374502182f},   {0.499992371f, 0.499992371f}, {0.627252638f, 0.625482559f},
        {0.754512846f, 0.750972748f},   {0.946889102f, 0.943006635f}, {0.492145419f, 0.477447152f}};
    for (int i = 0; i < 9; i++) {
        const float u = 0.125f * float(i);
        for (int row = 0; row < 3; row++) {
            const float v = row == 0 ? 0.0f : row == 1 ? 0.5f : 1.0f;
            float result = -7;
            filter->eval(&result, 0, 1, 0, u, v, 0.125f, 0, 0, 0.125f);
            expectClose(expected[i][row == 0 ? 0 : 1], result, "7");
        }
    }
}
