// getFilter dispatch and Options, what eval writes for bad face ids and channel ranges, and
// robustness against non-finite inputs, black borders and inconsistent adjacency.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "MemoryTexture.h"

using tarsk::test::makeFaceInfo;
using tarsk::test::MemoryTexture;

namespace {

using FT = PtexFilter::FilterType;

// Two quad faces side by side (face 0 edge 1 to face 1 edge 3), 3 channels of varied content.
MemoryTexture* twoQuads(Ptex::BorderMode border = Ptex::m_clamp, Ptex::DataType dt = Ptex::dt_float)
{
    MemoryTexture::Layout layout;
    layout.numChannels = 3;
    layout.dataType = dt;
    layout.uBorderMode = layout.vBorderMode = border;
    return MemoryTexture::create(
        layout, {makeFaceInfo(2, 2, {-1, 1, -1, -1}, {0, 3, 0, 0}), makeFaceInfo(2, 2, {-1, -1, -1, 0}, {0, 0, 0, 1})},
        [](int f, int x, int y, int c) { return float((f * 16 + y * 4 + x) * (c + 1) % 23) * 10.0f; });
}

MemoryTexture* twoTriangles()
{
    MemoryTexture::Layout layout;
    layout.meshType = Ptex::mt_triangle;
    layout.numChannels = 3;
    return MemoryTexture::create(
        layout, {makeFaceInfo(2, 2, {-1, 1, -1, -1}, {0, 1, 0, 0}), makeFaceInfo(2, 2, {-1, 0, -1, -1}, {0, 1, 0, 0})},
        [](int f, int x, int y, int c) { return float((f * 16 + y * 4 + x) * (c + 1) % 23) / 23.0f; });
}

std::vector<float> evalAll(PtexTexture* tx, PtexFilter::Options options, int face, float u, float v, float w)
{
    PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, options));
    std::vector<float> result(3, -7.0f);
    if (filter) filter->eval(result.data(), 0, 3, face, u, v, w, 0, 0, w);
    return result;
}

}  // namespace

TEST(FilterArguments, FactoryDispatchAndOptions)
{
    const PtexFilter::Options defaults;
    EXPECT_EQ(defaults.__structSize, int(sizeof(PtexFilter::Options)));
    EXPECT_EQ(sizeof(PtexFilter::Options), 20u);
    EXPECT_EQ(offsetof(PtexFilter::Options, noedgeblend), 16u);
    EXPECT_EQ(defaults.filter, FT::f_box);
    EXPECT_FALSE(defaults.lerp);
    EXPECT_EQ(defaults.sharpness, 0.0f);
    EXPECT_FALSE(defaults.noedgeblend);

    EXPECT_EQ(PtexFilter::getFilter(nullptr, defaults), nullptr);
    MemoryTexture::Layout badMesh;
    badMesh.meshType = Ptex::MeshType(5);
    PtexPtr<MemoryTexture> bad(
        MemoryTexture::create(badMesh, {makeFaceInfo(1, 1, {}, {})}, [](int, int, int, int) { return 1.0f; }));
    EXPECT_EQ(PtexFilter::getFilter(bad.get(), defaults), nullptr);

    // Unknown quad filter types are the box filter; every non-point type on triangles is the
    // one triangle filter.
    PtexPtr<MemoryTexture> quads(twoQuads());
    const std::vector<float> box = evalAll(quads.get(), PtexFilter::Options(FT::f_box), 0, 0.8f, 0.4f, 0.3f);
    for (int type : {-1, 8, 100})
        EXPECT_EQ(evalAll(quads.get(), PtexFilter::Options(FT(type)), 0, 0.8f, 0.4f, 0.3f), box) << type;
    EXPECT_NE(evalAll(quads.get(), PtexFilter::Options(FT::f_gaussian), 0, 0.8f, 0.4f, 0.3f), box);
    EXPECT_EQ(evalAll(quads.get(), PtexFilter::Options(FT::f_bicubic, false, 1.0f), 0, 0.8f, 0.4f, 0.1f),
              evalAll(quads.get(), PtexFilter::Options(FT::f_catmullrom), 0, 0.8f, 0.4f, 0.1f));
    EXPECT_EQ(evalAll(quads.get(), PtexFilter::Options(FT::f_bicubic, false, 2.0f / 3.0f), 0, 0.8f, 0.4f, 0.1f),
              evalAll(quads.get(), PtexFilter::Options(FT::f_mitchell), 0, 0.8f, 0.4f, 0.1f));

    PtexPtr<MemoryTexture> tris(twoTriangles());
    const std::vector<float> tri = evalAll(tris.get(), PtexFilter::Options(FT::f_box), 0, 0.3f, 0.5f, 0.2f);
    for (int type : {-1, 1, 3, 4, 5, 6, 7, 9})
        EXPECT_EQ(evalAll(tris.get(), PtexFilter::Options(FT(type), true, 0.7f), 0, 0.3f, 0.5f, 0.2f), tri) << type;
    EXPECT_NE(evalAll(tris.get(), PtexFilter::Options(FT::f_point), 0, 0.3f, 0.5f, 0.2f), tri);

    // A caller whose Options end before noedgeblend never gets noedgeblend.
    PtexFilter::Options old(FT::f_bilinear, false, 0, true);
    old.__structSize = 12;
    EXPECT_EQ(evalAll(quads.get(), old, 0, 0.95f, 0.5f, 0.0f),
              evalAll(quads.get(), PtexFilter::Options(FT::f_bilinear), 0, 0.95f, 0.5f, 0.0f));
    EXPECT_NE(evalAll(quads.get(), PtexFilter::Options(FT::f_bilinear, false, 0, true), 0, 0.95f, 0.5f, 0.0f),
              evalAll(quads.get(), PtexFilter::Options(FT::f_bilinear), 0, 0.95f, 0.5f, 0.0f));
}

TEST(FilterArguments, WhatEvalWritesForFaceIdsAndChannelRanges)
{
    PtexPtr<MemoryTexture> quads(twoQuads());
    PtexPtr<MemoryTexture> tris(twoTriangles());
    for (PtexTexture* tx : {static_cast<PtexTexture*>(quads.get()), static_cast<PtexTexture*>(tris.get())}) {
        for (int type = 0; type <= 7; type++) {
            PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, PtexFilter::Options(FT(type))));
            const bool point = type == FT::f_point;
            SCOPED_TRACE(::testing::Message() << "mesh " << tx->meshType() << " filter " << type);
            auto run = [&](int first, int n, int face) {
                std::vector<float> r(6, -7.0f);
                filter->eval(r.data(), first, n, face, 0.4f, 0.3f, 0.1f, 0, 0, 0.1f);
                return r;
            };
            const std::vector<float> untouched(6, -7.0f);
            EXPECT_EQ(run(0, 3, -1), untouched);
            EXPECT_EQ(run(0, 3, 2), untouched);
            EXPECT_EQ(run(0, 0, 0), untouched);
            EXPECT_EQ(run(0, -2, 0), untouched);

            const std::vector<float> all = run(0, 3, 0);
            // Past the last channel: point filters write zeros, the others leave the rest.
            const std::vector<float> tail = run(1, 5, 0);
            EXPECT_EQ(tail[0], all[1]);
            EXPECT_EQ(tail[1], all[2]);
            for (int c = 2; c < 5; c++) EXPECT_EQ(tail[size_t(c)], point ? 0.0f : -7.0f) << c;
            EXPECT_EQ(tail[5], -7.0f);
            // Ranges starting at or outside the end (or before the start) read nothing.
            for (int first : {3, 4, 100, -1, -5}) {
                const std::vector<float> r = run(first, 2, 0);
                EXPECT_EQ(r[0], point ? 0.0f : -7.0f) << first;
                EXPECT_EQ(r[1], point ? 0.0f : -7.0f) << first;
                EXPECT_EQ(r[2], -7.0f) << first;
            }
        }
    }
}

TEST(FilterArguments, NonFiniteAndOutOfRangeInputsGiveDefinedResults)
{
    const float nan = std::nanf(""), inf = INFINITY;
    const float coords[] = {nan, inf, -inf, -0.5f, 1.5f, 1e10f, -1e10f, 0.5f, 1.0f, 0.0f, 2.0f, -1.0f};
    const float widths[] = {0.0f, nan, inf, -inf, 1e-30f, 1e30f, 0.2f, -0.3f};
    for (Ptex::BorderMode border : {Ptex::m_clamp, Ptex::m_black, Ptex::m_periodic}) {
        PtexPtr<MemoryTexture> quads(twoQuads(border, Ptex::dt_uint8));
        PtexPtr<MemoryTexture> tris(twoTriangles());
        for (PtexTexture* tx : {static_cast<PtexTexture*>(quads.get()), static_cast<PtexTexture*>(tris.get())}) {
            for (int type = 0; type <= 7; type++) {
                PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, PtexFilter::Options(FT(type), type % 2 == 0)));
                for (float u : coords)
                    for (float v : coords)
                        for (float w : widths) {
                            float r[3] = {-7, -7, -7};
                            filter->eval(r, 0, 3, 0, u, v, w, w * 0.5f, -w, w, 1.0f, w == 0.2f ? 0.1f : 0.0f);
                            for (float x : r)
                                ASSERT_TRUE(std::isfinite(x) && x >= -1.0f && x <= 3.0f)
                                    << "border " << border << " mesh " << tx->meshType() << " filter " << type
                                    << " at (" << u << ", " << v << ") width " << w << " gave " << x;
                        }
            }
        }
    }
}

TEST(FilterArguments, BlackBordersAndCornersWithoutDiagonalFace)
{
    // Faces 0, 1, 2 of res (1,1): face 1 right of face 0, face 2 above it, nothing diagonal.
    MemoryTexture::Layout layout;
    layout.uBorderMode = layout.vBorderMode = Ptex::m_black;
    PtexPtr<MemoryTexture> tx(MemoryTexture::create(
        layout,
        {makeFaceInfo(1, 1, {-1, 1, 2, -1}, {0, 3, 0, 0}), makeFaceInfo(1, 1, {-1, -1, -1, 0}, {0, 0, 0, 1}),
         makeFaceInfo(1, 1, {0, -1, -1, -1}, {2, 0, 0, 0})},
        [](int f, int, int, int) { return float(f + 1); }));
    for (FT type : {FT::f_bilinear, FT::f_box, FT::f_catmullrom, FT::f_gaussian}) {
        PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(type)));
        float r = -7;
        // Entirely beyond the corner: all weight dropped, black rather than 0/0.
        filter->eval(&r, 0, 1, 0, 1.5f, 1.5f, 0, 0, 0, 0);
        EXPECT_EQ(r, 0.0f) << type;
        // Partly on a neighbour: renormalised neighbour data, not black.
        filter->eval(&r, 0, 1, 0, 1.2f, 1.3f, 0, 0, 0, 0);
        EXPECT_GT(r, 0.0f) << type;
        // Two faces away or more: black.
        for (float u : {-1.0f, 2.0f, -3.0f}) {
            r = -7;
            filter->eval(&r, 0, 1, 0, u, 0.5f, 0, 0, 0, 0);
            EXPECT_EQ(r, 0.0f) << type << " u " << u;
        }
    }
}

TEST(FilterArguments, TriangleFootprintBeyondTheHypotenuse)
{
    MemoryTexture::Layout layout;
    layout.meshType = Ptex::mt_triangle;
    PtexPtr<MemoryTexture> tx(MemoryTexture::create(layout, {makeFaceInfo(3, 3, {}, {})},
                                                    [](int, int x, int y, int) { return float(x * 3 + y); }));
    PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(FT::f_box)));
    float outside = -7, moved = -7;
    filter->eval(&outside, 0, 1, 0, 0.5f, 1.3f, 0.01f, 0, 0, 0.01f);
    const float s = 1.0f / (0.5f + 1.3f);
    filter->eval(&moved, 0, 1, 0, 0.5f * s, 1.3f * s, 0.01f, 0, 0, 0.01f);
    EXPECT_TRUE(std::isfinite(outside));
    EXPECT_EQ(outside, moved);
}

TEST(FilterArguments, InconsistentAdjacencyNeverReadsOutOfBounds)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> face(-3, 12), edge(0, 3), res(0, 4), coin(0, 3);
    std::uniform_real_distribution<float> pos(-0.5f, 1.5f), width(0.0f, 0.6f);
    for (int mesh = 0; mesh < 40; mesh++) {
        std::vector<Ptex::FaceInfo> faces;
        for (int f = 0; f < 8; f++) {
            const int r = res(rng);
            faces.push_back(makeFaceInfo(r, mesh % 2 ? res(rng) : r, {face(rng), face(rng), face(rng), face(rng)},
                                         {edge(rng), edge(rng), edge(rng), edge(rng)}, coin(rng) == 0));
        }
        MemoryTexture::Layout layout;
        layout.meshType = mesh % 2 ? Ptex::mt_quad : Ptex::mt_triangle;
        layout.uBorderMode = Ptex::BorderMode(mesh % 3);
        layout.vBorderMode = Ptex::BorderMode((mesh / 3) % 3);
        layout.edgeFilterMode = Ptex::EdgeFilterMode(mesh % 4 == 1);
        layout.numChannels = 2;
        PtexPtr<MemoryTexture> tx(MemoryTexture::create(layout, faces, [](int, int, int, int) { return 0.5f; }));
        for (int type = 0; type <= 7; type++) {
            PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(FT(type), coin(rng) == 0)));
            for (int q = 0; q < 30; q++) {
                float r[2] = {-7, -7};
                const float w = width(rng);
                filter->eval(r, 0, 2, q % 8, pos(rng), pos(rng), w, 0, 0, w);
                ASSERT_TRUE(std::isfinite(r[0]) && std::isfinite(r[1])) << "mesh " << mesh << " filter " << type;
            }
        }
        EXPECT_EQ(tx->outstandingData(), 0);
    }
}
