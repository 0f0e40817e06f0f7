// The per-triangle face maps of a frame: what frame start puts in them, that evaluating through
// them gives bit for bit what locating every point gives, and their lifetime.
#include "FloatBits.h"
#include "TexPtexHarness.h"

#include <gtest/gtest.h>

#include <random>

using namespace texptex_test;
using TUtils::ShadingContext;

namespace {

bool sameBits(const Color& a, const Color& b)
{
    using tarsk::test::floatBits;
    return floatBits(a.r) == floatBits(b.r) && floatBits(a.g) == floatBits(b.g) && floatBits(a.b) == floatBits(b.b) &&
           floatBits(a.a) == floatBits(b.a);
}

// Quads (some non-planar), triangles and n-gons up to degree 8 of a quad-type mesh, corners
// lifted off their plane, in random orientations.
MeshLists randomQuadTypeMesh(std::mt19937& rng)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), coord(-3.0f, 3.0f);
    std::vector<Vector3f> vertices;
    std::vector<std::vector<int32_t>> polygons;
    for (int f = 0; f < 24; ++f) {
        const int d = 3 + f % 6;
        const Vector3f centre{coord(rng), coord(rng), coord(rng)};
        // Two random in-plane axes: any orientation.
        const Vector3f a{coord(rng), coord(rng), coord(rng)}, b{coord(rng), coord(rng), coord(rng)};
        std::vector<int32_t> polygon;
        for (int k = 0; k < d; ++k) {
            const float angle = 6.2831853f * (k + 0.3f * unit(rng)) / d;
            const float c = std::cos(angle), s = std::sin(angle), lift = 0.15f * (unit(rng) - 0.5f);
            polygon.push_back(static_cast<int32_t>(vertices.size()));
            vertices.push_back({centre.x + c * a.x + s * b.x + lift, centre.y + c * a.y + s * b.y - lift,
                                centre.z + c * a.z + s * b.z + lift});
        }
        polygons.push_back(polygon);
    }
    return fanMesh(vertices, polygons);
}

// Points on every render triangle: inside, on its corners and edges, and a little outside.
std::vector<std::pair<float, float>> weightsToTry(std::mt19937& rng)
{
    std::vector<std::pair<float, float>> weights = {{0, 0}, {1, 0}, {0, 1}, {0.5f, 0}, {0, 0.5f}, {0.5f, 0.5f}};
    std::uniform_real_distribution<float> around(-0.1f, 1.1f);
    for (int i = 0; i < 14; ++i) weights.emplace_back(around(rng), around(rng));
    return weights;
}

}  // namespace

TEST(TriangleFrameTable, TableAndPerPointPathAgreeBitForBit)
{
    std::mt19937 rng(17);
    const MeshLists quadType = randomQuadTypeMesh(rng);
    std::vector<bool> subfaces;
    for (int32_t d : quadType.origFacesDegree)
        for (int k = 0; k < (d == 4 ? 1 : d); ++k) subfaces.push_back(d != 4);
    const std::string quadPath =
        writeIdTexture("table-quad-type.ptx", true, ptexFaceCount(quadType, true), 5, subfaces);
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f);
    std::vector<Vector3f> triVertices;
    std::vector<std::vector<int32_t>> triangles;
    for (int t = 0; t < 30; ++t) {
        for (int k = 0; k < 3; ++k) triVertices.push_back({coord(rng), coord(rng), coord(rng)});
        triangles.push_back({3 * t, 3 * t + 1, 3 * t + 2});
    }
    const MeshLists triType = fanMesh(triVertices, triangles);
    const std::string triPath = writeIdTexture("table-tri-type.ptx", false, 30, 5);

    std::uniform_real_distribution<float> footprint(-0.05f, 0.05f);
    int compared = 0;
    for (bool quadFile : {true, false}) {
        const MeshLists& lists = quadFile ? quadType : triType;
        for (int reverse : {0, 1}) {
            for (int type : {0, 1, 4}) {
                // With everything made at frame start, with the triangle maps only, and with none.
                Harness table(1), mapsOnly(1), perPoint(1);
                mapsOnly.tex().frameTable.maxSubFaces = 0;
                perPoint.tex().frameTable.maxTriangles = 0;
                for (Harness* h : {&table, &mapsOnly, &perPoint}) {
                    h->setString("ptex_file", (quadFile ? quadPath : triPath).c_str());
                    h->setInt("filter_type", type);
                    h->setInt("reverse_vertices", reverse);
                    h->setMesh(lists);
                    h->begin();
                    ASSERT_TRUE(h->tex().ready);
                }
                const int numTriangles = table.tex().mesh->numTriangles;
                ASSERT_EQ(table.tex().frameTable.size(), numTriangles);
                ASSERT_EQ(perPoint.tex().frameTable.size(), 0) << "no table: every point is located";
                ASSERT_EQ(table.tex().frameTable.subFaces().records != nullptr, quadFile);
                ASSERT_EQ(mapsOnly.tex().frameTable.subFaces().records, nullptr);
                for (int t = 0; t < numTriangles; ++t) {
                    for (const auto& [a, b] : weightsToTry(rng)) {
                        ShadingContext c = table.contextAtWeights(t, a, b);
                        c.dPdx = {footprint(rng), footprint(rng), footprint(rng)};
                        c.dPdy = {footprint(rng), footprint(rng), footprint(rng)};
                        const Color x = table.eval(c), y = perPoint.eval(c), z = mapsOnly.eval(c);
                        EXPECT_TRUE(sameBits(x, z)) << "triangle " << t << " at (" << a << ", " << b << ")";
                        EXPECT_TRUE(sameBits(x, y))
                            << "triangle " << t << " at (" << a << ", " << b << ") filter " << type << ": " << x.r
                            << " " << x.g << " " << x.b << " vs " << y.r << " " << y.g << " " << y.b;
                        ++compared;
                    }
                }
                table.end();
                mapsOnly.end();
                perPoint.end();
            }
        }
    }
    EXPECT_GT(compared, 10000);
}

TEST(TriangleFrameTable, EntriesNameTheFaceOrSendToTheSubFaceSearch)
{
    // A quad (triangles 0, 1), a pentagon (2 ... 4), a zero-area quad (5, 6) and a triangle (7).
    const MeshLists lists = fanMesh({{0, 0, 0},
                                     {1, 0, 0},
                                     {1, 1, 0},
                                     {0, 1, 0},
                                     {2, 0, 0},
                                     {3, 0, 0},
                                     {3.5f, 1, 0},
                                     {2.5f, 2, 0},
                                     {1.5f, 1, 0},
                                     {5, 5, 5}},
                                    {{0, 1, 2, 3}, {4, 5, 6, 7, 8}, {9, 9, 9, 9}, {0, 1, 3}});
    Harness h(1);
    h.setString("ptex_file", writeIdTexture("table-entries.ptx", true, 10, 4).c_str());
    h.setMesh(lists);
    h.begin();
    ASSERT_TRUE(h.tex().ready);
    const TriangleFrameTable& table = h.tex().frameTable;
    ASSERT_EQ(table.size(), 8);
    const FaceMap* e = table.entries();
    EXPECT_EQ(e[0].faceId, 0);
    EXPECT_EQ(e[1].faceId, 0);
    for (int t = 2; t <= 4; ++t) EXPECT_EQ(e[t].faceId, FaceMap::kSubFaceSearch) << t;
    EXPECT_EQ(e[5].faceId, FaceMap::kNoFace) << "a zero-area quad has no frame";
    EXPECT_EQ(e[6].faceId, FaceMap::kNoFace);
    EXPECT_EQ(e[7].faceId, FaceMap::kSubFaceSearch) << "a triangle of a quad-type file has sub-faces";
    // Frame end gives the memory back; the next frame makes the table again.
    h.tex().frameEnd(&h.renderer());
    EXPECT_EQ(table.size(), 0);
    EXPECT_EQ(table.entries(), nullptr);
    h.tex().frameBegin(&h.renderer());
    EXPECT_EQ(table.size(), 8);
    h.end();
    EXPECT_EQ(table.size(), 0);

    // A "faces" list too short for the last triangles: their entries have no face, and the
    // evaluation answers white for them as it does without a table.
    Harness s(1);
    s.setString("ptex_file", writeIdTexture("table-short-faces.ptx", true, 10, 4).c_str());
    s.setMesh(lists);
    std::vector<int32_t> shortFaces(lists.faces.begin(), lists.faces.begin() + 3 * 6 + 2);
    s.setIntList("faces", shortFaces);
    s.begin();
    ASSERT_TRUE(s.tex().ready);
    EXPECT_EQ(s.tex().frameTable.entries()[5].faceId, FaceMap::kNoFace);
    EXPECT_EQ(s.tex().frameTable.entries()[6].faceId, FaceMap::kNoFace);
    EXPECT_EQ(s.tex().frameTable.entries()[7].faceId, FaceMap::kNoFace);
    EXPECT_EQ(s.tex().frameTable.entries()[0].faceId, 0);
    s.end();
}

TEST(TriangleFrameTable, MeshTooLargeForATableIsEvaluatedWithoutOne)
{
    const MeshLists lists = fanMesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
    Harness h(1);
    h.tex().frameTable.maxTriangles = 1;
    h.setString("ptex_file", writeIdTexture("table-too-large.ptx", true, 1, 4).c_str());
    h.setMesh(lists);
    h.begin();
    ASSERT_TRUE(h.tex().ready) << "the frame is not refused";
    EXPECT_EQ(h.tex().frameTable.size(), 0);
    const Color c = h.evalAt(0, {0.75f, 0.25f, 0});
    EXPECT_EQ(c.r, 0);
    EXPECT_NEAR(c.g, 0.75f, 1.0f / 16);
    EXPECT_NEAR(c.b, 0.25f, 1.0f / 16);
    h.end();
}
