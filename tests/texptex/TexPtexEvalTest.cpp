// evalColor through a TexPtex instance on generated files whose texels hold their own face id and
// (u, v): with the point filter, the colour tells which face and position the evaluation chose.
#include "TexPtexHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace texptex_test;
using TUtils::ShadingContext;

namespace {

constexpr int kLog2 = 6;                // 64 x 64 texels per face
constexpr float kTexel = 1.0f / 64.0f;  // how closely a texel centre tells (u, v)

bool isWhite(const Color& c) { return c.r == 1 && c.g == 1 && c.b == 1 && c.a == 1; }

Vector3f lerp3(Vector3f a, Vector3f b, float t)
{
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}

void expectAt(Harness& h, int t, Vector3f p, int faceId, float u, float v, float tolerance = kTexel)
{
    const Color c = h.evalAt(t, p);
    ASSERT_FALSE(isWhite(c)) << "triangle " << t << " at (" << p.x << ", " << p.y << ", " << p.z << ")";
    EXPECT_EQ(std::lround(c.r), faceId) << "triangle " << t;
    EXPECT_NEAR(c.g, u, tolerance) << "triangle " << t << " face " << faceId;
    EXPECT_NEAR(c.b, v, tolerance) << "triangle " << t << " face " << faceId;
}

// A quad (face 0, Ptex id 0) and beside it a pentagon with centre (2, 2) (Ptex ids 1 ... 5).
MeshLists quadAndPentagon()
{
    return fanMesh({{0, 0, 0},
                    {4, 0, 0},
                    {5, 3, 0},
                    {2, 5, 0},
                    {-1, 2, 0},  // pentagon 0 ... 4
                    {0, -3, 0},
                    {4, -3, 0}},  // quad below it
                   {{5, 6, 1, 0}, {0, 1, 2, 3, 4}});
}

}  // namespace

TEST(TexPtexEval, TriangleFileCornersAndRandomPointsOnRandomMeshes)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-3.0f, 3.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int numTriangles = 12;
    std::vector<Vector3f> vertices;
    std::vector<std::vector<int32_t>> triangles;
    for (int t = 0; t < numTriangles; ++t) {
        for (int k = 0; k < 3; ++k) vertices.push_back({coord(rng), coord(rng), coord(rng)});
        triangles.push_back({3 * t, 3 * t + 1, 3 * t + 2});
    }
    const MeshLists lists = fanMesh(vertices, triangles);
    const std::string path = writeIdTexture("eval-tri.ptx", false, numTriangles, kLog2);
    for (float offset : {0.0f, 10.0f}) {
        Harness h(1);
        h.geometry.offset = {offset, -offset, 0.5f * offset};  // world space is mesh space moved
        h.setString("ptex_file", path.c_str());
        h.setMesh(lists);
        h.begin();
        ASSERT_TRUE(h.tex().ready);
        for (int t = 0; t < numTriangles; ++t) {
            const Vector3f v0 = vertices[3 * t], v1 = vertices[3 * t + 1], v2 = vertices[3 * t + 2];
            expectAt(h, t, v1, t, 1, 0, 2 * kTexel);
            expectAt(h, t, v2, t, 0, 1, 2 * kTexel);
            for (int i = 0; i < 20; ++i) {
                float a = unit(rng), b = unit(rng);
                if (a + b > 1) a = 1 - a, b = 1 - b;
                const Vector3f p{v0.x + a * (v1.x - v0.x) + b * (v2.x - v0.x),
                                 v0.y + a * (v1.y - v0.y) + b * (v2.y - v0.y),
                                 v0.z + a * (v1.z - v0.z) + b * (v2.z - v0.z)};
                // Texel centroids sit within 2/3 texel of any point of their small triangle.
                expectAt(h, t, p, t, a, b, kTexel + 1e-3f);
            }
        }
        h.end();
    }
}

TEST(TexPtexEval, QuadFileParallelogramsMapLinearlyWithAndWithoutReversal)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const int numQuads = 8;
    std::vector<Vector3f> vertices;
    std::vector<std::vector<int32_t>> quads;
    for (int q = 0; q < numQuads; ++q) {
        const Vector3f o{coord(rng), coord(rng), coord(rng)};
        const Vector3f a{coord(rng), coord(rng), coord(rng)}, b{coord(rng), coord(rng), coord(rng)};
        vertices.insert(vertices.end(), {o,
                                         {o.x + a.x, o.y + a.y, o.z + a.z},
                                         {o.x + a.x + b.x, o.y + a.y + b.y, o.z + a.z + b.z},
                                         {o.x + b.x, o.y + b.y, o.z + b.z}});
        quads.push_back({4 * q, 4 * q + 1, 4 * q + 2, 4 * q + 3});
    }
    const MeshLists lists = fanMesh(vertices, quads);
    const std::string path = writeIdTexture("eval-quads.ptx", true, numQuads, kLog2);
    for (int reverse : {0, 1}) {
        Harness h(1);
        h.setString("ptex_file", path.c_str());
        h.setInt("reverse_vertices", reverse);
        h.setMesh(lists);
        h.begin();
        ASSERT_TRUE(h.tex().ready);
        for (int q = 0; q < numQuads; ++q) {
            const Vector3f* v = &vertices[4 * q];
            for (int i = 0; i < 20; ++i) {
                const float s = unit(rng), t = unit(rng);
                const Vector3f p{v[0].x + s * (v[1].x - v[0].x) + t * (v[3].x - v[0].x),
                                 v[0].y + s * (v[1].y - v[0].y) + t * (v[3].y - v[0].y),
                                 v[0].z + s * (v[1].z - v[0].z) + t * (v[3].z - v[0].z)};
                // Triangle (0, 1, 2) holds s >= t, triangle (0, 2, 3) the rest. Reversed corners
                // (0, 3, 2, 1) swap the roles of u and v.
                const int tri = 2 * q + (s >= t ? 0 : 1);
                expectAt(h, tri, p, q, reverse ? t : s, reverse ? s : t, kTexel + 1e-3f);
            }
        }
        h.end();
    }
}

TEST(TexPtexEval, QuadCornersOfBothRenderTriangles)
{
    // Quad corners 0 ... 3 with render triangles (0, 1, 2) and (0, 2, 3).
    const MeshLists lists = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    Harness h(1);
    h.setString("ptex_file", writeIdTexture("eval-quad-corners.ptx", true, 1, kLog2).c_str());
    h.setMesh(lists);
    h.begin();
    expectAt(h, 0, {1, 1, 0}, 0, 1, 1);  // first triangle lacks corner 3: frame at corner 1
    expectAt(h, 0, {1, 0, 0}, 0, 1, 0);
    expectAt(h, 1, {0, 0, 0}, 0, 0, 0);  // second lacks corner 1: frame at corner 3
    expectAt(h, 1, {0, 1, 0}, 0, 0, 1);
    h.end();

    // A quad whose corner 3 repeats corner 2: all four corners lie on triangle (0, 1, 2). The
    // search takes corner 3 as the missing one and stays within the quad.
    const MeshLists repeated = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2, 2}});
    Harness r(1);
    r.setString("ptex_file", writeIdTexture("eval-quad-repeated.ptx", true, 1, kLog2).c_str());
    r.setMesh(repeated);
    r.begin();
    ASSERT_TRUE(r.tex().ready);
    expectAt(r, 0, {1, 0, 0}, 0, 1, 0);
    expectAt(r, 0, {1, 1, 0}, 0, 1, 1);
    r.end();
}

TEST(TexPtexEval, PentagonSubFacesCentreLinesAndOutside)
{
    const MeshLists lists = quadAndPentagon();
    Harness h(1);
    h.setString("ptex_file",
                writeIdTexture("eval-pentagon.ptx", true, 6, kLog2, {false, true, true, true, true, true}).c_str());
    h.setMesh(lists);
    h.begin();
    ASSERT_TRUE(h.tex().ready);
    const int pentagon = 2;  // its first render triangle; the quad has triangles 0 and 1
    const Vector3f centre{2, 2, 0};
    for (int k = 0; k < 5; ++k) {
        const Vector3f corner = lists.vertices[static_cast<size_t>(k)];
        expectAt(h, pentagon + (k % 3), lerp3(corner, centre, 0.01f), 1 + k, 0, 0, 2 * kTexel);
    }
    expectAt(h, pentagon, centre, 1, 1, 1);
    // On the line from the midpoint of edge 0-1 to the centre: shared by sub-faces 0 and 1.
    expectAt(h, pentagon, {2, 1, 0}, 1, 1, 0.5f);
    // On the line from the midpoint of edge 4-0 to the centre: shared by sub-faces 0 and 4.
    expectAt(h, pentagon, {0.75f, 1.5f, 0}, 1, 0.5f, 1);
    // Beyond corner 0, outside every sub-face quad: the last sub-face takes it.
    const Color outside = h.evalAt(pentagon, {-1, -1, 0});
    ASSERT_FALSE(isWhite(outside));
    EXPECT_EQ(std::lround(outside.r), 5);
    // The quad before the pentagon keeps Ptex id 0.
    expectAt(h, 0, {2, -1.5f, 0}, 0, 0.5f, 0.5f);
    h.end();
}

TEST(TexPtexEval, FaceInThePlaneXConstantIsSolvedOnTheOtherAxes)
{
    const MeshLists lists = fanMesh({{5, 0, 0}, {5, 1, 0}, {5, 1, 1}, {5, 0, 1}}, {{0, 1, 2, 3}});
    Harness h(1);
    h.setString("ptex_file", writeIdTexture("eval-plane-x.ptx", true, 1, kLog2).c_str());
    h.setMesh(lists);
    h.begin();
    expectAt(h, 0, {5, 0.75f, 0.25f}, 0, 0.75f, 0.25f);
    expectAt(h, 1, {5, 0.25f, 0.75f}, 0, 0.25f, 0.75f);
    h.end();
}

TEST(TexPtexEval, OutOfRangeAndUnusableInputsAnswerWhite)
{
    const MeshLists lists =
        fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {3, 3, 3}}, {{0, 1, 2}, {0, 2, 3}, {4, 4, 4}});
    Harness h(2);
    h.setString("ptex_file", writeIdTexture("eval-bad-inputs.ptx", false, 3, kLog2).c_str());
    h.setInt("filter_type", 1);
    h.setMesh(lists);
    h.begin();
    ASSERT_TRUE(h.tex().ready);
    EXPECT_FALSE(isWhite(h.evalAt(0, {0.5f, 0.25f, 0})));
    EXPECT_TRUE(isWhite(h.evalAt(-1, {0.5f, 0.25f, 0})));
    EXPECT_TRUE(isWhite(h.evalAt(3, {0.5f, 0.25f, 0}))) << "faceIndex equal to numTriangles";
    EXPECT_TRUE(isWhite(h.evalAt(2, {3, 3, 3}))) << "a zero-area face has no coordinates";

    // Thread indices outside the frame's filters.
    ShadingContext c = h.contextAt(0, {0.5f, 0.25f, 0}, 2);
    EXPECT_TRUE(isWhite(h.eval(c)));
    c.thread = nullptr;  // no thread record: index -1
    EXPECT_TRUE(isWhite(h.eval(c)));

    // Non-finite hit data give the neutral answer; non-finite differentials give no width.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    c = h.contextAt(0, {0.5f, 0.25f, 0});
    c.weightA = nan;
    EXPECT_TRUE(isWhite(h.eval(c)));
    c = h.contextAt(0, {0.5f, 0.25f, 0});
    c.triEdgeB = {inf, 0, 0};
    EXPECT_TRUE(isWhite(h.eval(c)));
    c = h.contextAt(0, {0.5f, 0.25f, 0});
    c.weightA = 1e30f;  // finite, but so far away that the coordinates overflow
    const Color far = h.eval(c);
    EXPECT_TRUE(std::isfinite(far.r) && std::isfinite(far.g) && std::isfinite(far.b));
    c = h.contextAt(0, {0.5f, 0.25f, 0});
    c.dPdx = {inf, nan, 0};
    c.dPdy = {nan, nan, nan};
    const Color noWidth = h.eval(c);
    ASSERT_FALSE(isWhite(noWidth));
    EXPECT_EQ(std::lround(noWidth.r), 0);
    EXPECT_TRUE(std::isfinite(noWidth.g) && std::isfinite(noWidth.b));
    h.end();

    // A "faces" list shorter than three indices per render triangle: triangles past it are white.
    Harness s(1);
    s.setString("ptex_file", writeIdTexture("eval-short-faces.ptx", false, 3, kLog2).c_str());
    s.setMesh(lists);
    s.setIntList("faces", {0, 1, 2, 0, 2});
    s.begin();
    ASSERT_TRUE(s.tex().ready);
    EXPECT_EQ(s.tex().numFaceIndices, 5);
    EXPECT_FALSE(isWhite(s.evalAt(0, {0.5f, 0.25f, 0})));
    ShadingContext past = s.contextAtWeights(1, 0.25f, 0.25f);
    past.triOrigin = {0, 0, 0};
    past.triEdgeA = {1, 1, 0};
    past.triEdgeB = {0, 1, 0};
    EXPECT_TRUE(isWhite(s.eval(past)));
    s.end();
}

TEST(TexPtexEval, FaceIdsPastTheFileGiveZeroChannels)
{
    // Two quads in the mesh, one face in the file: the filter writes nothing for Ptex face 1,
    // and the channels it did not write read as zeros.
    const MeshLists lists =
        fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {2, 1, 0}}, {{0, 1, 2, 3}, {1, 4, 5, 2}});
    for (int filterType : {0, 2}) {
        Harness h(1);
        h.setString("ptex_file", writeIdTexture("eval-short-file.ptx", true, 1, kLog2).c_str());
        h.setInt("filter_type", filterType);
        h.setMesh(lists);
        h.begin();
        ASSERT_TRUE(h.tex().ready);
        const Color past = h.evalAt(2, {1.5f, 0.25f, 0});
        EXPECT_EQ(past, (Color{0, 0, 0, 0})) << "filter " << filterType;
        h.end();
    }
}

TEST(TexPtexEval, HitObjectWithoutTransformIsTheIdentity)
{
    const MeshLists lists = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    Harness h(1);
    h.setString("ptex_file", writeIdTexture("eval-identity.ptx", true, 1, kLog2).c_str());
    h.setMesh(lists);
    h.begin();
    ShadingContext c = h.contextAt(0, {0.75f, 0.25f, 0});
    const Color withTransform = h.eval(c);
    c.geometryObject = nullptr;
    EXPECT_EQ(h.eval(c), withTransform);
    PluginBase plain;  // offers no GeometryTransform
    c.geometryObject = &plain;
    EXPECT_EQ(h.eval(c), withTransform);
    // The texture gives colours only: the vector evaluation keeps the interface's zero.
    const Vector3f vector = static_cast<TUtils::TextureInterface&>(h.tex()).evalVector(c);
    EXPECT_EQ(vector.x, 0.0f);
    EXPECT_EQ(vector.y, 0.0f);
    EXPECT_EQ(vector.z, 0.0f);
    h.end();
}

TEST(TexPtexEval, CorrectedHitsMoveTheWeightsAlongTheEdges)
{
    const MeshLists lists = fanMesh({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}, {{0, 1, 2, 3}});
    Harness h(1);
    h.setString("ptex_file", writeIdTexture("eval-correct.ptx", true, 1, kLog2).c_str());
    h.setMesh(lists);
    h.begin();
    // Triangle 0 has origin (0,0,0) and edges (2,0,0), (2,2,0): the true hit is at weights
    // (0.5, 0.25) = (1.5, 0.5, 0); the host gives (0.25, 0.125) and the offset to make up.
    ShadingContext c = h.contextAtWeights(0, 0.25f, 0.125f);
    c.flags = ShadingContext::correctHitFlag;
    c.correctionAxis = {0, 0, 1};
    c.hitReference = {100, 100, 100};
    c.hitPoint = {100 + 0.25 * 2 + 0.125 * 2, 100 + 0.125 * 2, 100 + 0.375};  // plus 0.375 along the axis
    c.cacheSlot = 1;
    c.cacheKey = 77;
    const Color corrected = h.eval(c);
    const Color direct = h.evalAt(0, {1.5f, 0.5f, 0});
    EXPECT_EQ(corrected, direct);
    EXPECT_EQ(h.tex().threadCaches[0]->count, 0) << "corrected hits are not cached";

    // A singular correction frame leaves the weights as given.
    c.correctionAxis = {1, 0, 0};
    c.triEdgeB = {2, 0, 0};
    c.triEdgeA = {2, 0, 0};
    const Color singular = h.eval(c);
    EXPECT_FALSE(isWhite(singular));
    h.end();
}

TEST(TexPtexEval, ResultCacheAnswersRepeatsAndBypassesUnsafeSlotsAndKeys)
{
    const MeshLists lists = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    Harness h(1);
    h.setString("ptex_file", writeIdTexture("eval-cache.ptx", true, 1, kLog2).c_str());
    h.setMesh(lists);
    h.begin();
    ResultCache& cache = *h.tex().threadCaches[0];
    ShadingContext c = h.contextAt(0, {0.75f, 0.25f, 0});
    const Color evaluated = h.eval(c);

    // Stored under (slot, key); the skipped slots are empty.
    c.cacheSlot = 7;
    c.cacheKey = 42;
    EXPECT_EQ(h.eval(c), evaluated);
    EXPECT_EQ(cache.count, 8);
    EXPECT_EQ(cache.capacity, 30);
    EXPECT_EQ(cache.entries[7].key, 42u);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(cache.entries[i].key, 0u);
    // A repeat is answered from the cache, without the filter: a planted colour shows it.
    const Color planted{0.125f, 0.25f, 0.5f, 1};
    cache.entries[7].color = planted;
    EXPECT_EQ(h.eval(c), planted);
    c.cacheKey = 43;
    EXPECT_EQ(h.eval(c), evaluated) << "another key re-evaluates and overwrites";
    EXPECT_EQ(cache.entries[7].key, 43u);

    // Key 0 matches empty entries: it is never read nor stored.
    c.cacheKey = 0;
    c.cacheSlot = 3;
    cache.entries[3].color = planted;
    EXPECT_EQ(h.eval(c), evaluated);
    EXPECT_EQ(cache.entries[3].key, 0u);
    // Negative and huge slots are evaluated and not cached.
    for (int32_t slot : {-1, INT32_MIN, ResultCache::kMaxSlot, INT32_MAX}) {
        c.cacheSlot = slot;
        c.cacheKey = 9;
        EXPECT_EQ(h.eval(c), evaluated) << slot;
        EXPECT_EQ(cache.count, 8) << slot;
    }

    // A new frame empties the entries: the planted colour of slot 7 is not answered any more.
    c.cacheSlot = 7;
    c.cacheKey = 43;
    cache.entries[7].color = planted;
    h.tex().frameEnd(&h.renderer());
    h.tex().frameBegin(&h.renderer());
    EXPECT_EQ(cache.entries[7].key, 0u);
    EXPECT_EQ(h.eval(c), evaluated);
    h.end();
}

TEST(TexPtexEval, FilterTypeSelectsTheLibraryFilter)
{
    const MeshLists quad = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    const std::string quadPath = writeIdTexture("eval-filters-quad.ptx", true, 1, 4);
    auto evalWith = [&](const MeshLists& lists, const std::string& path, int filterType) {
        Harness h(1);
        h.setString("ptex_file", path.c_str());
        h.setInt("filter_type", filterType);
        h.setMesh(lists);
        h.begin();
        auto c = h.contextAt(0, {0.6f, 0.3f, 0}, 0, 0.3f);
        const Color color = h.eval(c);
        h.end();
        return color;
    };
    const Color box = evalWith(quad, quadPath, 2);
    EXPECT_EQ(evalWith(quad, quadPath, 9), box) << "unknown types are box";
    EXPECT_EQ(evalWith(quad, quadPath, -2), box);
    EXPECT_FALSE(evalWith(quad, quadPath, 1) == box) << "bilinear differs from box";
    const Color point = evalWith(quad, quadPath, 0);
    EXPECT_EQ(point.g, (9 + 0.5f) / 16) << "the point filter reads the texel under (u, v)";

    const MeshLists tri = fanMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    const std::string triPath = writeIdTexture("eval-filters-tri.ptx", false, 1, 4);
    const Color triangleFilter = evalWith(tri, triPath, 1);
    for (int type : {2, 5, 9, -1}) EXPECT_EQ(evalWith(tri, triPath, type), triangleFilter) << type;
}

TEST(TexPtexEval, ConstantTexturesFilterToTheirConstant)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> footprint(0.0f, 0.5f);
    const std::vector<float> value = {0.25f, 0.5f, 0.75f};
    const MeshLists quads = quadAndPentagon();
    const MeshLists tris = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 1}}, {{0, 1, 2}, {0, 2, 3}});
    const std::string quadPath = writeConstantTexture("eval-constant-quad.ptx", true, 6, value);
    const std::string triPath = writeConstantTexture("eval-constant-tri.ptx", false, 2, value);
    for (bool quadFile : {true, false}) {
        const MeshLists& lists = quadFile ? quads : tris;
        for (int type = -1; type <= 8; ++type) {
            Harness h(1);
            h.setString("ptex_file", (quadFile ? quadPath : triPath).c_str());
            h.setInt("filter_type", type);
            h.setInt("lerp", type % 2);
            h.setMesh(lists);
            h.begin();
            ASSERT_TRUE(h.tex().ready);
            for (int i = 0; i < 40; ++i) {
                const int t = static_cast<int>(unit(rng) * h.tex().mesh->numTriangles) % h.tex().mesh->numTriangles;
                ShadingContext c = h.contextAtWeights(t, unit(rng) * 0.5f, unit(rng) * 0.5f);
                c.dPdx = {footprint(rng), footprint(rng), footprint(rng)};
                c.dPdy = {footprint(rng), -footprint(rng), footprint(rng)};
                const Color color = h.eval(c);
                EXPECT_NEAR(color.r, 0.25f, 1e-5f) << "type " << type << " triangle " << t;
                EXPECT_NEAR(color.g, 0.5f, 1e-5f) << "type " << type << " triangle " << t;
                EXPECT_NEAR(color.b, 0.75f, 1e-5f) << "type " << type << " triangle " << t;
                EXPECT_NEAR(color.a, 0.3f * 0.25f + 0.59f * 0.5f + 0.11f * 0.75f, 1e-5f);
            }
            h.end();
        }
    }
}

TEST(TexPtexEval, ColourParametersApplyToTheFilteredChannels)
{
    const MeshLists quad = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    const std::string rgba = writeConstantTexture("eval-colour-rgba.ptx", true, 1, {0.5f, 0.25f, 1.0f, 0.125f}, 3);
    auto evalWith = [&](auto configure) {
        Harness h(1);
        h.setString("ptex_file", rgba.c_str());
        h.setMesh(quad);
        configure(h);
        h.begin();
        const Color c = h.evalAt(0, {0.75f, 0.25f, 0});
        h.end();
        return c;
    };
    // Defaults: colour from channels 0-2, alpha from luminance even though the file has alpha.
    Color c = evalWith([](Harness&) {});
    EXPECT_EQ(c.r, 0.5f);
    EXPECT_EQ(c.g, 0.25f);
    EXPECT_EQ(c.b, 1.0f);
    EXPECT_FLOAT_EQ(c.a, 0.3f * 0.5f + 0.59f * 0.25f + 0.11f);
    c = evalWith([](Harness& h) { h.setInt("alpha_type", 1); });
    EXPECT_EQ(c.a, 0.125f);
    c = evalWith([](Harness& h) { h.setInt("color_space", 2); });
    EXPECT_NEAR(c.r, 0.21404f, 1e-5f);
    c = evalWith([](Harness& h) { h.setFloat("gamma", 2.2f); });
    EXPECT_NEAR(c.r, 0.72974f, 1e-5f);
    c = evalWith([](Harness& h) {
        h.setInt("auto_color", 0);
        h.setInt("r_channel", 3);
        h.setInt("g_channel", 4);
        h.setInt("b_channel", -1);
    });
    EXPECT_EQ(c.r, 0.125f);
    EXPECT_EQ(c.g, 1.0f);
    EXPECT_EQ(c.b, 1.0f);
}

TEST(TexPtexEval, DegenerateAndExtremeFramesGiveFiniteCoordinatesInsideTheFace)
{
    // Per face: a collinear quad, a zero-area pentagon, a sliver, a quad of size 1e18, one of size
    // 1e-20, a unit quad a million units from the origin, and a pentagon with one corner pulled
    // almost onto another.
    std::vector<Vector3f> v;
    std::vector<std::vector<int32_t>> faces;
    auto add = [&](const std::vector<Vector3f>& corners) {
        std::vector<int32_t> face;
        for (const Vector3f& c : corners) {
            face.push_back(static_cast<int32_t>(v.size()));
            v.push_back(c);
        }
        faces.push_back(face);
    };
    add({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
    add({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}});
    add({{0, 0, 0}, {1, 0, 0}, {1, 1e-6f, 0}, {0, 1e-6f, 1e-7f}});
    add({{0, 0, 0}, {1e18f, 0, 0}, {1e18f, 1e18f, 1e17f}, {0, 1e18f, 0}});
    add({{0, 0, 0}, {1e-20f, 0, 0}, {1e-20f, 1e-20f, 0}, {0, 1e-20f, 0}});
    add({{1e6f, 1e6f, 1e6f}, {1e6f + 1, 1e6f, 1e6f}, {1e6f + 1, 1e6f + 1, 1e6f}, {1e6f, 1e6f + 1, 1e6f}});
    add({{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {2, 1 + 1e-7f, 0}, {0, 1, 0.5f}});
    const MeshLists lists = fanMesh(v, faces);
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> around(-0.2f, 1.2f);
    for (bool quadFile : {true, false}) {
        // A triangle-type file reads the same lists as triangles: every render triangle its face.
        MeshLists used = lists;
        if (!quadFile) {
            used.origFaces = used.faces;
            used.origFacesDegree.assign(used.faces.size() / 3, 3);
        }
        const int numFaces = ptexFaceCount(used, quadFile);
        const std::string path =
            writeIdTexture(quadFile ? "eval-degenerate-quad.ptx" : "eval-degenerate-tri.ptx", quadFile, numFaces, 4);
        for (int type : {0, 1}) {
            Harness h(1);
            h.setString("ptex_file", path.c_str());
            h.setInt("filter_type", type);
            h.setMesh(used);
            h.begin();
            ASSERT_TRUE(h.tex().ready);
            int coloured = 0;
            for (int t = 0; t < h.tex().mesh->numTriangles; ++t) {
                for (int i = 0; i < 30; ++i) {
                    ShadingContext c = h.contextAtWeights(t, around(rng), around(rng));
                    c.dPdx = {0.01f, 1e18f * (i % 2), 0};
                    c.dPdy = {0, 0.01f, 1e-20f};
                    const Color color = h.eval(c);
                    ASSERT_TRUE(std::isfinite(color.r) && std::isfinite(color.g) && std::isfinite(color.b) &&
                                std::isfinite(color.a))
                        << "triangle " << t;
                    if (isWhite(color)) continue;  // no frame: the neutral answer
                    ++coloured;
                    // The texels hold their face and (u, v): the filter read inside a face of
                    // the file, wherever the point was (filters average to within rounding).
                    const float slack = 1e-5f * numFaces;
                    EXPECT_GE(color.r, -slack);
                    EXPECT_LE(color.r, numFaces - 1.0f + slack);
                    EXPECT_GE(color.g, -slack);
                    EXPECT_LE(color.g, 1.0f + slack);
                    EXPECT_GE(color.b, -slack);
                    EXPECT_LE(color.b, 1.0f + slack);
                }
            }
            EXPECT_GT(coloured, 100) << "the usable faces are evaluated";
            h.end();
        }
    }
}

TEST(TexPtexEval, NonFiniteChannelsAndSharpnessOutsideTheKernelGiveFiniteColours)
{
    const MeshLists quad = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    // A float file may store infinities and NaN; such channels read as 0.
    const std::string bad = writeConstantTexture("eval-nonfinite.ptx", true, 1, {inf, nan, 0.5f});
    for (int type : {0, 1, 4}) {
        Harness h(1);
        h.setString("ptex_file", bad.c_str());
        h.setInt("filter_type", type);
        h.setMesh(quad);
        h.begin();
        auto c = h.contextAt(0, {0.6f, 0.3f, 0}, 0, 0.1f);
        const Color color = h.eval(c);
        EXPECT_EQ(color.r, 0.0f) << type;
        EXPECT_EQ(color.g, 0.0f) << type;
        EXPECT_EQ(color.b, 0.5f) << type;
        EXPECT_FLOAT_EQ(color.a, 0.11f * 0.5f) << "alpha from the colour as returned";
        h.end();
    }
    // A finite texel that the sRGB conversion takes past the float range: that component is 0.
    const std::string huge = writeConstantTexture("eval-huge.ptx", true, 1, {3e38f, 0.5f, 0.25f});
    Harness s(1);
    s.setString("ptex_file", huge.c_str());
    s.setInt("color_space", 2);
    s.setMesh(quad);
    s.begin();
    const Color converted = s.evalAt(0, {0.6f, 0.3f, 0});
    EXPECT_EQ(converted.r, 0.0f);
    EXPECT_NEAR(converted.g, 0.21404f, 1e-5f);
    EXPECT_TRUE(std::isfinite(converted.a));
    s.end();

    // The cubic kernel is defined for sharpness 0 ... 1: values beyond are its nearest end, NaN is
    // 0. Bicubic with sharpness 1 is Catmull-Rom (type 6), with sharpness 0 the B-spline (type 5).
    const std::string ids = writeIdTexture("eval-sharpness.ptx", true, 1, 4);
    auto evalWith = [&](int type, float sharpness) {
        Harness h(1);
        h.setString("ptex_file", ids.c_str());
        h.setInt("filter_type", type);
        h.setFloat("sharpness", sharpness);
        h.setMesh(quad);
        h.begin();
        auto c = h.contextAt(0, {0.6f, 0.3f, 0}, 0, 0.2f);
        const Color color = h.eval(c);
        h.end();
        return color;
    };
    const Color catmullRom = evalWith(6, 0.0f), bSpline = evalWith(5, 0.0f);
    for (float sharp : {1.0f, 1e5f, 1e19f, inf}) EXPECT_EQ(evalWith(4, sharp), catmullRom) << sharp;
    for (float sharp : {0.0f, -1e5f, -inf, nan}) EXPECT_EQ(evalWith(4, sharp), bSpline) << sharp;
    EXPECT_FALSE(evalWith(4, 0.5f) == catmullRom) << "within the range the value is used as given";
}
