// Properties every filter must keep on generated meshes: constants stay constant (weights sum
// to one across edges, corners of any valence, resolution changes and tiles), seams are
// continuous, lerp is continuous in the footprint, and results do not depend on how each
// face's frame is turned relative to its neighbours (also for tangent vectors).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "MemoryTexture.h"

using tarsk::test::makeFaceInfo;
using tarsk::test::MemoryTexture;

namespace {

using FT = PtexFilter::FilterType;

struct FilterConfig {
    FT type;
    bool lerp;
    float sharpness;
};

std::vector<FilterConfig> allQuadConfigs()
{
    std::vector<FilterConfig> configs;
    for (int t = 0; t <= 7; t++)
        for (bool lerp : {false, true}) configs.push_back({FT(t), lerp, t == FT::f_bicubic ? 0.3f : 0.0f});
    return configs;
}

float evalChannel(PtexFilter* filter, int face, float u, float v, float uw1, float vw1, float uw2, float vw2,
                  float width = 1, float blur = 0)
{
    float result[1] = {-7};
    filter->eval(result, 0, 1, face, u, v, uw1, vw1, uw2, vw2, width, blur);
    return result[0];
}

// Quad fans: n faces around the vertex at their uv (0,0), faces of different resolutions.
std::vector<Ptex::FaceInfo> fan(int n, bool mixedRes)
{
    std::vector<Ptex::FaceInfo> faces;
    for (int j = 0; j < n; j++) {
        const int r = mixedRes ? 1 + j % 4 : 3;
        faces.push_back(
            makeFaceInfo(r, mixedRes ? 1 + (j + 1) % 3 : r, {(j + n - 1) % n, -1, -1, (j + 1) % n}, {3, 0, 0, 0}));
    }
    return faces;
}

// A 3x3 grid of quads with full adjacency (interior vertices of valence 4, border vertices).
std::vector<Ptex::FaceInfo> grid(bool mixedRes)
{
    std::vector<Ptex::FaceInfo> faces;
    for (int j = 0; j < 3; j++)
        for (int i = 0; i < 3; i++) {
            auto id = [](int x, int y) { return (x < 0 || y < 0 || x > 2 || y > 2) ? -1 : y * 3 + x; };
            const int ru = mixedRes ? 2 + (i + j) % 3 : 4, rv = mixedRes ? 1 + (i * j) % 4 : 4;
            faces.push_back(
                makeFaceInfo(ru, rv, {id(i, j - 1), id(i + 1, j), id(i, j + 1), id(i - 1, j)}, {2, 3, 0, 1}));
        }
    return faces;
}

}  // namespace

TEST(FilterProperties, ConstantTexturesFilterToTheirConstant)
{
    struct Mesh {
        const char* name;
        std::vector<Ptex::FaceInfo> faces;
        Ptex::BorderMode border;
    };
    std::vector<Mesh> meshes = {{"grid", grid(false), Ptex::m_clamp},
                                {"grid mixed res", grid(true), Ptex::m_clamp},
                                {"grid periodic", grid(false), Ptex::m_periodic}};
    for (int n : {3, 5, 6, 10, 11, 12}) meshes.push_back({"fan", fan(n, n % 2 == 0), Ptex::m_clamp});
    // One face whose opposite edges are glued to each other.
    meshes.push_back({"self-adjacent", {makeFaceInfo(3, 2, {0, 0, 0, 0}, {2, 3, 0, 1})}, Ptex::m_periodic});

    const struct {
        Ptex::DataType type;
        float raw, expected;
    } values[] = {{Ptex::dt_uint8, 100, 100.0f / 255.0f},
                  {Ptex::dt_uint16, 65535, 1.0f},
                  {Ptex::dt_half, 0.75f, 0.75f},
                  {Ptex::dt_float, 1.0f, 1.0f}};
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-0.2f, 1.2f), width(0.0f, 1.0f);
    std::uniform_int_distribution<int> expo(0, 8);
    for (const Mesh& mesh : meshes) {
        for (const auto& value : values) {
            MemoryTexture::Layout layout;
            layout.dataType = value.type;
            layout.uBorderMode = layout.vBorderMode = mesh.border;
            layout.tileLog2 = value.type == Ptex::dt_uint16 ? 1 : -1;  // tiled levels, constant tiles
            PtexPtr<MemoryTexture> tx(
                MemoryTexture::create(layout, mesh.faces, [&](int, int, int, int) { return value.raw; }));
            for (const FilterConfig& cfg : allQuadConfigs()) {
                PtexPtr<PtexFilter> filter(
                    PtexFilter::getFilter(tx.get(), PtexFilter::Options(cfg.type, cfg.lerp, cfg.sharpness)));
                for (int q = 0; q < 40; q++) {
                    const int face = q % tx->numFaces();
                    // Corners and edges are where weight bookkeeping goes wrong: aim there often.
                    float u = pos(rng), v = pos(rng);
                    if (q % 4 == 0) u = float(q % 8 == 0), v = float(q % 3 == 0);
                    const float uw = std::ldexp(width(rng), -expo(rng)), vw = std::ldexp(width(rng), -expo(rng));
                    const float result = evalChannel(filter.get(), face, u, v, uw, 0.1f * vw, -0.2f * uw, vw);
                    ASSERT_NEAR(result, value.expected, 1e-6f * value.expected)
                        << mesh.name << " faces " << mesh.faces.size() << " filter " << cfg.type << " lerp " << cfg.lerp
                        << " data type " << value.type << " face " << face << " at (" << u << ", " << v << ") widths "
                        << uw << ", " << vw;
                }
            }
            EXPECT_EQ(tx->outstandingData(), 0) << "face data not released";
        }
    }
}

TEST(FilterProperties, RampIsContinuousAcrossASeam)
{
    // Face 1 continues face 0 to the right; the stored value is the position along the strip.
    const int res = 4, n = 1 << res;
    MemoryTexture::Layout layout;
    PtexPtr<MemoryTexture> tx(MemoryTexture::create(
        layout,
        {makeFaceInfo(res, res, {-1, 1, -1, -1}, {0, 3, 0, 0}), makeFaceInfo(res, res, {-1, -1, -1, 0}, {0, 0, 0, 1})},
        [&](int f, int x, int, int) { return (float(f * n + x) + 0.5f) / float(n); }));
    const float eps = 1e-5f;
    for (FT type : {FT::f_bilinear, FT::f_box, FT::f_gaussian, FT::f_bspline, FT::f_catmullrom, FT::f_mitchell}) {
        for (bool lerp : {false, true}) {
            PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(type, lerp)));
            for (float w : {0.0f, 0.03f, 0.1f, 0.3f}) {
                for (float v : {0.2f, 0.5f, 0.77f}) {
                    const float left = evalChannel(filter.get(), 0, 1.0f - eps, v, w, 0, 0, w);
                    const float right = evalChannel(filter.get(), 1, eps, v, w, 0, 0, w);
                    EXPECT_NEAR(left, right, 1e-3f) << "filter " << type << " lerp " << lerp << " width " << w;
                }
            }
        }
    }
}

TEST(FilterProperties, LerpIsContinuousInTheFootprint)
{
    MemoryTexture::Layout layout;
    PtexPtr<MemoryTexture> tx(MemoryTexture::create(layout, {makeFaceInfo(7, 7, {}, {})}, [](int, int x, int y, int) {
        return std::sin(float(x) * 0.3f) * std::cos(float(y) * 0.17f);
    }));
    for (FT type : {FT::f_gaussian, FT::f_bspline, FT::f_catmullrom, FT::f_mitchell}) {
        PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx.get(), PtexFilter::Options(type, true)));
        // Level boundaries, where the level and the blend weight both change.
        for (float w : {1.0f / 8, 1.0f / 16, 1.0f / 32, 1.0f / 64}) {
            const float below = evalChannel(filter.get(), 0, 0.43f, 0.61f, w * (1 - 1e-5f), 0, 0, w * (1 - 1e-5f));
            const float above = evalChannel(filter.get(), 0, 0.43f, 0.61f, w * (1 + 1e-5f), 0, 0, w * (1 + 1e-5f));
            EXPECT_NEAR(below, above, 2e-3f) << "filter " << type << " width " << w;
        }
    }
}

namespace {

// Geometric content of a two-face strip (face 0 left, face 1 right); each face is stored in a
// frame turned by r quarter turns: geometric (u, v) is stored at (v, 1-u) for r = 1, etc.
struct TurnedStrip {
    int turns[2];
    static constexpr int kRes = 3, kN = 1 << kRes;

    static float content(int face, int x, int y, int c)
    {
        const float base = float(face * 37 + x * 11 + y * 5 % 7) + float((x * y) % 3);
        return c == 0 ? base : base * 0.5f - 3.0f;
    }
    // Stored texel (x, y) of a face turned by r holds geometric texel:
    static void geometricTexel(int r, int x, int y, int& gx, int& gy)
    {
        const int m = kN - 1;
        switch (r) {
        case 1:
            gx = m - y;
            gy = x;
            break;
        case 2:
            gx = m - x;
            gy = m - y;
            break;
        case 3:
            gx = y;
            gy = m - x;
            break;
        default:
            gx = x;
            gy = y;
            break;
        }
    }
    // Linear part of the turn, for footprints and tangent vectors.
    static void turnVector(int r, float a, float b, float& x, float& y)
    {
        switch (r) {
        case 1:
            x = b;
            y = -a;
            break;
        case 2:
            x = -a;
            y = -b;
            break;
        case 3:
            x = -b;
            y = a;
            break;
        default:
            x = a;
            y = b;
            break;
        }
    }
    static void turnPoint(int r, float u, float v, float& x, float& y)
    {
        switch (r) {
        case 1:
            x = v;
            y = 1 - u;
            break;
        case 2:
            x = 1 - u;
            y = 1 - v;
            break;
        case 3:
            x = 1 - v;
            y = u;
            break;
        default:
            x = u;
            y = v;
            break;
        }
    }

    MemoryTexture* make(bool tanvec) const
    {
        // Geometric edge e of a face turned by r is its stored edge (e - r) mod 4.
        const int e0 = (1 - turns[0] + 4) % 4, e1 = (3 - turns[1] + 4) % 4;
        std::vector<int> adj0 = {-1, -1, -1, -1}, adj1 = {-1, -1, -1, -1}, edges0 = {0, 0, 0, 0}, edges1 = {0, 0, 0, 0};
        adj0[size_t(e0)] = 1;
        edges0[size_t(e0)] = e1;
        adj1[size_t(e1)] = 0;
        edges1[size_t(e1)] = e0;
        MemoryTexture::Layout layout;
        layout.numChannels = 2;
        if (tanvec) layout.edgeFilterMode = Ptex::efm_tanvec;
        const int t0 = turns[0], t1 = turns[1];
        return MemoryTexture::create(layout,
                                     {makeFaceInfo(kRes, kRes, adj0, edges0), makeFaceInfo(kRes, kRes, adj1, edges1)},
                                     [t0, t1, tanvec](int f, int x, int y, int c) {
                                         const int r = f == 0 ? t0 : t1;
                                         int gx, gy;
                                         geometricTexel(r, x, y, gx, gy);
                                         if (!tanvec) return content(f, gx, gy, c);
                                         float vx, vy;
                                         turnVector(r, content(f, gx, gy, 0), content(f, gx, gy, 1), vx, vy);
                                         return c == 0 ? vx : vy;
                                     });
    }
};

}  // namespace

TEST(FilterProperties, TurningFaceFramesDoesNotChangeResults)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(0.01f, 0.99f), near(0.8f, 0.99f), width(0.0f, 0.4f);
    for (bool tanvec : {false, true}) {
        const TurnedStrip base{{0, 0}};
        PtexPtr<MemoryTexture> reference(base.make(tanvec));
        for (int t0 = 0; t0 < 4; t0++) {
            for (int t1 = 0; t1 < 4; t1++) {
                const TurnedStrip turned{{t0, t1}};
                PtexPtr<MemoryTexture> tx(turned.make(tanvec));
                for (const FilterConfig& cfg : allQuadConfigs()) {
                    for (bool noedgeblend : {false, true}) {
                        PtexFilter::Options options(cfg.type, cfg.lerp, cfg.sharpness, noedgeblend);
                        PtexPtr<PtexFilter> f0(PtexFilter::getFilter(reference.get(), options));
                        PtexPtr<PtexFilter> f1(PtexFilter::getFilter(tx.get(), options));
                        for (int q = 0; q < 6; q++) {
                            // Near the shared edge, so that kernels cross it.
                            const float u = near(rng), v = pos(rng), uw = width(rng), vw = width(rng);
                            float expected[2], actual[2], tu, tv, a1, b1, a2, b2;
                            f0->eval(expected, 0, 2, 0, u, v, uw, 0, 0, vw);
                            TurnedStrip::turnPoint(t0, u, v, tu, tv);
                            TurnedStrip::turnVector(t0, uw, 0, a1, b1);
                            TurnedStrip::turnVector(t0, 0, vw, a2, b2);
                            f1->eval(actual, 0, 2, 0, tu, tv, a1, b1, a2, b2);
                            float back[2] = {actual[0], actual[1]};
                            if (tanvec) {
                                // Bring the turned face's vector back into the geometric frame.
                                TurnedStrip::turnVector((4 - t0) % 4, actual[0], actual[1], back[0], back[1]);
                            }
                            for (int c = 0; c < 2; c++)
                                ASSERT_NEAR(back[c], expected[c], 2e-5f * (1 + std::fabs(expected[c])))
                                    << "turns " << t0 << "," << t1 << " filter " << cfg.type << " lerp " << cfg.lerp
                                    << " noedgeblend " << noedgeblend << " tanvec " << tanvec << " at (" << u << ", "
                                    << v << ") widths " << uw << ", " << vw << " channel " << c;
                        }
                    }
                }
            }
        }
    }
}
