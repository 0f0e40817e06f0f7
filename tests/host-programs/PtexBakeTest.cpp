// ptex-bake and its face layout: Ptex faces and adjacency computed from meshes (cube, a mesh with
// n-gons, triangles), the sub-face convention, faulty meshes, and baked files read back through
// our Ptex reader and ptex-info.
#include "HostError.h"
#include "HostTestSupport.h"
#include "ImageFile.h"
#include "ObjMesh.h"
#include "PtexBaker.h"
#include "PtexFaceLayout.h"

#include <Ptexture.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

using namespace tarsk;
using bake::PtexFaceLayout;
using bake::PtexFaceRecord;
using host::ObjMesh;
using host::Vec3;

namespace {

ObjMesh cubeMesh()
{
    ObjMesh mesh;
    for (int k = 0; k < 8; ++k) mesh.positions.push_back({k & 1 ? 1.0 : 0.0, k & 2 ? 1.0 : 0.0, k & 4 ? 1.0 : 0.0});
    mesh.addFace({0, 2, 3, 1});
    mesh.addFace({4, 5, 7, 6});
    mesh.addFace({0, 1, 5, 4});
    mesh.addFace({2, 6, 7, 3});
    mesh.addFace({0, 4, 6, 2});
    mesh.addFace({1, 3, 7, 5});
    return mesh;
}

// A flat 4 x 2 grid with a pentagon + triangle pair and a hexagon among the quads.
ObjMesh ngonMesh()
{
    ObjMesh mesh;
    for (int j = 0; j <= 2; ++j)
        for (int i = 0; i <= 4; ++i) mesh.positions.push_back({double(i), double(j), 0.0});
    auto v = [](int i, int j) { return j * 5 + i; };
    mesh.addFace({v(0, 0), v(1, 0), v(1, 1), v(0, 1)});
    mesh.addFace({v(1, 0), v(2, 0), v(3, 0), v(3, 1), v(2, 1)});  // pentagon
    mesh.addFace({v(1, 0), v(2, 1), v(1, 1)});                    // triangle
    mesh.addFace({v(3, 0), v(4, 0), v(4, 1), v(3, 1)});
    mesh.addFace({v(0, 1), v(1, 1), v(2, 1), v(2, 2), v(1, 2), v(0, 2)});  // hexagon
    mesh.addFace({v(2, 1), v(3, 1), v(3, 2), v(2, 2)});
    mesh.addFace({v(3, 1), v(4, 1), v(4, 2), v(3, 2)});
    return mesh;
}

int edgeCount(const PtexFaceRecord& f) { return f.numCorners == 3 ? 3 : 4; }
Vec3 edgeStart(const PtexFaceRecord& f, int e) { return f.corners[e]; }
Vec3 edgeEnd(const PtexFaceRecord& f, int e) { return f.corners[(e + 1) % edgeCount(f)]; }

bool onSegment(const Vec3& p, const Vec3& a, const Vec3& b)
{
    Vec3 ab = b - a, ap = p - a;
    double t = host::dot(ap, ab) / host::dot(ab, ab);
    return t >= -1e-9 && t <= 1 + 1e-9 && host::length(ap - ab * t) < 1e-9;
}

// Checks every link of the layout against the geometry and the Ptex conventions; answers the
// number of edges with a neighbour.
int checkLayout(const PtexFaceLayout& layout)
{
    int linked = 0;
    for (size_t a = 0; a < layout.faces.size(); ++a) {
        const PtexFaceRecord& fa = layout.faces[a];
        for (int e = 0; e < edgeCount(fa); ++e) {
            int b = fa.adjFaces[e];
            if (b < 0) continue;
            ++linked;
            EXPECT_LT(b, static_cast<int>(layout.faces.size()));
            const PtexFaceRecord& fb = layout.faces[b];
            int f = fa.adjEdges[e];
            // The shared segment: the shorter edge lies on the longer one, run the other way.
            Vec3 a0 = edgeStart(fa, e), a1 = edgeEnd(fa, e), b0 = edgeStart(fb, f), b1 = edgeEnd(fb, f);
            EXPECT_LT(host::dot(a1 - a0, b1 - b0), 0) << "face " << a << " edge " << e << " runs with its neighbour";
            if (host::length(a1 - a0) <= host::length(b1 - b0) + 1e-12) {
                EXPECT_TRUE(onSegment(a0, b0, b1) && onSegment(a1, b0, b1)) << "face " << a << " edge " << e;
            } else {
                EXPECT_TRUE(onSegment(b0, a0, a1) && onSegment(b1, a0, a1)) << "face " << a << " edge " << e;
            }
            // Symmetry: b's edge points back at a, except where b is a whole face and a the second
            // sub-face of the pair along b's edge: then b points at the other sub-face of a's face.
            int back = fb.adjFaces[f];
            if (back == static_cast<int>(a)) {
                EXPECT_EQ(fb.adjEdges[f], e) << "face " << a << " edge " << e;
            } else {
                EXPECT_TRUE(fa.subFace >= 0 && fb.subFace < 0) << "face " << a << " edge " << e << " -> " << b;
                EXPECT_GE(back, 0);
                if (back >= 0) {
                    EXPECT_EQ(layout.faces[back].originalFace, fa.originalFace);
                }
                EXPECT_EQ(fb.adjEdges[f], 3) << "the primary sub-face meets a whole face with its left edge";
                EXPECT_EQ(e, 0);
            }
        }
    }
    return linked;
}

}  // namespace

TEST(PtexFaceLayout, CubeIsClosedAndSymmetric)
{
    PtexFaceLayout layout = bake::buildPtexFaceLayout(cubeMesh());
    EXPECT_TRUE(layout.quadType);
    ASSERT_EQ(layout.faces.size(), 6u);
    EXPECT_EQ(checkLayout(layout), 24) << "every edge of a closed cube has a neighbour";
    for (const PtexFaceRecord& f : layout.faces) EXPECT_EQ(f.subFace, -1);
    EXPECT_TRUE(layout.warnings.empty());
}

TEST(PtexFaceLayout, NgonsBecomeSubFacesWithTheTopologyNumbering)
{
    PtexFaceLayout layout = bake::buildPtexFaceLayout(ngonMesh());
    EXPECT_TRUE(layout.quadType);
    // Degrees 4, 5, 3, 4, 6, 4, 4: whole faces take one id, the others one per corner.
    EXPECT_EQ(layout.firstFaceId, (std::vector<int32_t>{0, 1, 6, 9, 10, 16, 17}));
    ASSERT_EQ(layout.faces.size(), 18u);
    for (int k = 0; k < 5; ++k) {
        const PtexFaceRecord& sub = layout.faces[1 + k];
        EXPECT_EQ(sub.subFace, k);
        // Sub-faces of one face meet along the spokes: right edge of k to top edge of k + 1.
        EXPECT_EQ(sub.adjFaces[1], 1 + (k + 1) % 5);
        EXPECT_EQ(sub.adjEdges[1], 2);
        EXPECT_EQ(sub.adjFaces[2], 1 + (k + 4) % 5);
        EXPECT_EQ(sub.adjEdges[2], 1);
    }
    // The pentagon's first corner is its sub-face 0 at (0, 0); the centre is (1, 1).
    EXPECT_EQ(layout.faces[1].corners[0].x, 1.0);
    EXPECT_NEAR(layout.faces[1].corners[2].x, (1 + 2 + 3 + 3 + 2) / 5.0, 1e-12);
    // Quad 0's right edge (v(1,0) up to v(1,1)) meets two sub-faces of the triangle; it points at
    // the one met first walking the edge counter-clockwise: sub-face 0, at the triangle's corner v(1,0).
    EXPECT_EQ(layout.faces[0].adjFaces[1], 6);
    EXPECT_EQ(layout.faces[0].adjEdges[1], 3);
    int linked = checkLayout(layout);
    EXPECT_GT(linked, 40);
    EXPECT_TRUE(layout.warnings.empty());
}

TEST(PtexFaceLayout, TriangleMeshesGiveTriangleFiles)
{
    ObjMesh tetra;
    tetra.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    tetra.addFace({0, 2, 1});
    tetra.addFace({0, 1, 3});
    tetra.addFace({1, 2, 3});
    tetra.addFace({0, 3, 2});
    PtexFaceLayout layout = bake::buildPtexFaceLayout(tetra);
    EXPECT_FALSE(layout.quadType);
    ASSERT_EQ(layout.faces.size(), 4u);
    EXPECT_EQ(checkLayout(layout), 12);
    for (const PtexFaceRecord& f : layout.faces) EXPECT_EQ(f.adjFaces[3], -1);
}

TEST(PtexFaceLayout, FaultyEdgesGetNoNeighbourAndAWarning)
{
    // Three quads on one edge (0-1), a face wound against its neighbour, and a face repeating a vertex.
    ObjMesh mesh;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, -1, 0}, {0, -1, 0},
                      {1, 0, 1}, {0, 0, 1}, {2, 0, 0}, {2, 1, 0}, {3, 0, 0}};
    mesh.addFace({0, 1, 2, 3});
    mesh.addFace({1, 0, 5, 4});
    mesh.addFace({1, 0, 7, 6});
    mesh.addFace({1, 8, 9, 2});  // runs 1->2? no: its edge 9->2 and 2->1 ... shares 1-2 with face 0 the same way
    mesh.addFace({8, 10, 10, 9});
    PtexFaceLayout layout = bake::buildPtexFaceLayout(mesh);
    EXPECT_EQ(layout.faces[0].adjFaces[0], -1) << "non-manifold edge";
    EXPECT_EQ(layout.faces[1].adjFaces[0], -1);
    EXPECT_EQ(layout.faces[2].adjFaces[0], -1);
    EXPECT_GE(layout.warnings.size(), 2u);
    bool nonManifold = false, degenerate = false;
    for (const std::string& w : layout.warnings) {
        nonManifold |= w.find("non-manifold") != std::string::npos;
        degenerate |= w.find("degenerate") != std::string::npos;
    }
    EXPECT_TRUE(nonManifold);
    EXPECT_TRUE(degenerate);
    checkLayout(layout);
}

TEST(PtexBake, BakedFilesReadBackWithTheirAdjacencyAndTexels)
{
    std::string dir = test::scratchFolder("PtexBake.ReadBack");
    for (const ObjMesh& mesh : {cubeMesh(), ngonMesh()}) {
        PtexFaceLayout layout = bake::buildPtexFaceLayout(mesh);
        std::string path = dir + "/baked.ptx";
        bake::BakeOptions options;
        options.resLog2 = 3;
        options.type = bake::TexelType::float32;
        options.alpha = true;
        Vec3 lo{0, 0, 0}, hi{4, 4, 4};
        auto source = bake::makeProcedural("gradient", lo, hi);
        bake::BakeReport report = bake::bakePtex(mesh, *source, options, path);
        EXPECT_EQ(report.numFaces, static_cast<int>(layout.faces.size()));

        Ptex::String error;
        Ptex::PtexTexture* tx = Ptex::PtexTexture::open(path.c_str(), error);
        ASSERT_NE(tx, nullptr) << error;
        EXPECT_EQ(tx->meshType(), Ptex::mt_quad);
        EXPECT_EQ(tx->numChannels(), 4);
        EXPECT_EQ(tx->alphaChannel(), 3);
        ASSERT_EQ(tx->numFaces(), static_cast<int>(layout.faces.size()));
        for (int id = 0; id < tx->numFaces(); ++id) {
            const Ptex::FaceInfo& info = tx->getFaceInfo(id);
            const PtexFaceRecord& expected = layout.faces[id];
            EXPECT_EQ(info.isSubface(), expected.subFace >= 0) << id;
            for (int e = 0; e < 4; ++e) {
                EXPECT_EQ(info.adjface(e), expected.adjFaces[e]) << "face " << id << " edge " << e;
                if (expected.adjFaces[e] >= 0) {
                    EXPECT_EQ(static_cast<int>(info.adjedge(e)), expected.adjEdges[e])
                        << "face " << id << " edge " << e;
                }
            }
            // The gradient is linear in position: the texel at (0, 0) matches the position it samples.
            int n = info.res.u();
            float texel[4];
            tx->getPixel(id, 0, 0, texel, 0, 4);
            double u = 0.5 / n, v = 0.5 / n;
            const auto& c = expected.corners;
            Vec3 p = expected.subFace < 0 ? c[0] * (1 - u) + c[1] * (u - v) + c[2] * v
                                          : c[0] * (1 - u - v) + c[1] * u + c[3] * v;
            EXPECT_NEAR(texel[0], 0.1 + 0.8 * p.x / 4, 1e-5) << "face " << id;
            EXPECT_NEAR(texel[1], 0.1 + 0.8 * p.y / 4, 1e-5) << "face " << id;
            EXPECT_EQ(texel[3], 1.0f);
        }
        tx->release();
    }
}

TEST(PtexBake, CommandLineBakesChecksAndRefuses)
{
    if (test::bakeProgram().empty()) GTEST_SKIP() << "ptex-bake is not built";
    std::string dir = test::scratchFolder("PtexBake.CommandLine");
    host::writeObj(dir + "/ngon.obj", ngonMesh());
    test::CommandResult ok = test::runCommand({test::bakeProgram(), dir + "/ngon.obj", dir + "/ngon.ptx",
                                               "--procedural", "noise", "--res", "4", "--type", "half"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_NE(ok.out.find("quad mesh, 18 Ptex faces"), std::string::npos) << ok.out;
    if (!test::infoProgram().empty()) {
        test::CommandResult info = test::runCommand({test::infoProgram(), dir + "/ngon.ptx"});
        EXPECT_EQ(info.exitCode, 0) << info.out << info.err;
    }

    // A constant image gives constant texels wherever the UVs point.
    bake::Image image(3, 2);
    for (size_t i = 0; i < image.rgba.size(); ++i) image.rgba[i] = (i % 4 == 3) ? 1.0f : 0.25f;
    bake::writeImage(dir + "/flat.exr", image);
    ObjMesh uvMesh = cubeMesh();
    uvMesh.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (size_t c = 0; c < uvMesh.cornerUvs.size(); ++c) uvMesh.cornerUvs[c] = static_cast<int32_t>(c % 4);
    host::writeObj(dir + "/uv.obj", uvMesh);
    test::CommandResult fromImage = test::runCommand(
        {test::bakeProgram(), dir + "/uv.obj", dir + "/uv.ptx", "--image", dir + "/flat.exr", "--type", "float"});
    ASSERT_EQ(fromImage.exitCode, 0) << fromImage.err;
    Ptex::String error;
    Ptex::PtexTexture* tx = Ptex::PtexTexture::open((dir + "/uv.ptx").c_str(), error);
    ASSERT_NE(tx, nullptr) << error;
    for (int id = 0; id < tx->numFaces(); ++id) {
        float texel[3];
        tx->getPixel(id, 1, 2, texel, 0, 3);
        EXPECT_NEAR(texel[0], 0.25f, 1e-3) << id;
    }
    tx->release();

    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    std::vector<Case> cases = {
        {{dir + "/ngon.obj", dir + "/x.ptx", "--image", dir + "/flat.exr"}, "needs texture coordinates"},
        {{dir + "/missing.obj", dir + "/x.ptx"}, "cannot open OBJ file"},
        {{dir + "/ngon.obj", dir + "/no/such/folder/x.ptx"}, "cannot write"},
        {{dir + "/ngon.obj", dir + "/x.ptx", "--procedural", "plaid"}, "unknown procedural 'plaid'"},
        {{dir + "/ngon.obj", dir + "/x.ptx", "--res", "13"}, "--res takes"},
        {{dir + "/ngon.obj", dir + "/x.ptx", "--type", "double"}, "unknown texel type"},
        {{dir + "/uv.obj", dir + "/x.ptx", "--image", dir + "/missing.png"}, "cannot read PNG"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.begin(), test::bakeProgram());
        test::CommandResult r = test::runCommand(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.expected;
        EXPECT_NE(r.err.find("error: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    }
}

namespace {

uint64_t fileHash(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    uint64_t hash = 0xcbf29ce484222325ull;
    for (std::istreambuf_iterator<char> it(in), end; it != end; ++it)
        hash = (hash ^ static_cast<uint8_t>(*it)) * 0x100000001b3ull;
    return hash;
}

// A bumpy 24 x 16 grid of quads with an n-gon strip: enough faces for many bake batches.
ObjMesh wavyMesh()
{
    ObjMesh mesh;
    const int nu = 24, nv = 16;
    for (int j = 0; j <= nv; ++j)
        for (int i = 0; i <= nu; ++i)
            mesh.positions.push_back({i * 0.5, j * 0.3, 0.2 * std::sin(i * 0.7) * std::cos(j * 0.4)});
    auto v = [&](int i, int j) { return j * (nu + 1) + i; };
    for (int j = 0; j < nv; ++j)
        for (int i = 0; i < nu; i += (j == 5 ? 2 : 1)) {
            if (j == 5)  // hexagons spanning two cells
                mesh.addFace({v(i, j), v(i + 1, j), v(i + 2, j), v(i + 2, j + 1), v(i + 1, j + 1), v(i, j + 1)});
            else
                mesh.addFace({v(i, j), v(i + 1, j), v(i + 1, j + 1), v(i, j + 1)});
        }
    return mesh;
}

}  // namespace

TEST(PtexBake, FixedResolutionFilesAreUnchanged)
{
    std::string dir = test::scratchFolder("PtexBake.FixedRes");
    struct Case {
        bake::TexelType type;
        bool alpha;
        int resLog2;
        const char* procedural;
        uint64_t hash;
    };
    const Case cases[] = {
        {bake::TexelType::uint8, false, 5, "checker", 0x30fd5af198062b62ull},
        {bake::TexelType::half, true, 3, "noise", 0x30ad2cc21c5c87ebull},
    };
    ObjMesh mesh = wavyMesh();
    for (const Case& c : cases) {
        bake::BakeOptions options;
        options.type = c.type;
        options.alpha = c.alpha;
        options.resLog2 = c.resLog2;
        auto source = bake::makeProcedural(c.procedural, {0, 0, -0.2}, {12, 4.8, 0.2});
        const std::string path = dir + "/fixed.ptx";
        bake::bakePtex(mesh, *source, options, path);
        EXPECT_EQ(fileHash(path), c.hash) << c.procedural << std::hex << " 0x" << fileHash(path);
    }
}

TEST(PtexBake, TexelDensityFollowsFaceSizes)
{
    // A strip of quads of widths 1/4 .. 8 and heights 1/2 and 3, an n-gon and (separately) triangles.
    ObjMesh mesh;
    const double widths[] = {0.25, 1, 2, 8};
    double x = 0;
    for (double w : widths) {
        const int32_t base = static_cast<int32_t>(mesh.positions.size());
        for (double y : {0.0, 0.5, 3.5}) {
            mesh.positions.push_back({x, y, 0});
            mesh.positions.push_back({x + w, y, 0});
        }
        mesh.addFace({base, base + 1, base + 3, base + 2});
        mesh.addFace({base + 2, base + 3, base + 5, base + 4});
        x += w + 1;
    }
    const int32_t p = static_cast<int32_t>(mesh.positions.size());
    for (int k = 0; k < 5; ++k)
        mesh.positions.push_back({20 + 2 * std::cos(k * 2 * M_PI / 5), 2 * std::sin(k * 2 * M_PI / 5), 0});
    mesh.addFace({p, p + 1, p + 2, p + 3, p + 4});

    std::string dir = test::scratchFolder("PtexBake.TexelDensity");
    bake::BakeOptions options;
    options.texelDensity = 16;
    options.resLog2 = 6;
    auto source = bake::makeProcedural("checker", {0, 0, 0}, {22, 4, 1});
    bake::bakePtex(mesh, *source, options, dir + "/density.ptx");
    Ptex::String error;
    Ptex::PtexTexture* tx = Ptex::PtexTexture::open((dir + "/density.ptx").c_str(), error);
    ASSERT_NE(tx, nullptr) << error;
    ASSERT_EQ(tx->numFaces(), 8 + 5);
    // 16 texels per unit: widths 0.25, 1, 2, 8 give 4, 16, 32, 128 -> clamped to 64.
    const int ulog2[] = {2, 4, 5, 6};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(tx->getFaceInfo(2 * k).res, Ptex::Res(int8_t(ulog2[k]), 3)) << "face " << 2 * k;
        EXPECT_EQ(tx->getFaceInfo(2 * k + 1).res, Ptex::Res(int8_t(ulog2[k]), 6)) << "face " << 2 * k + 1;
    }
    // Pentagon sub-faces: sides of about half an edge (1.18) and the centre distance; each gets its own.
    PtexFaceLayout layout = bake::buildPtexFaceLayout(mesh);
    for (int id = 8; id < 13; ++id) {
        const Ptex::Res res = tx->getFaceInfo(id).res;
        EXPECT_EQ(res, bake::faceResolution(layout.faces[size_t(id)], options)) << id;
        EXPECT_GE(res.ulog2, 4);
        EXPECT_LE(res.ulog2, 5);
    }
    tx->release();

    // Triangles: square resolutions from the mean side; a tiny face gets 1 texel.
    ObjMesh tris;
    tris.positions = {{0, 0, 0}, {1, 0, 0},  {0, 1, 0},     {5, 0, 0},    {9, 0, 0},
                      {5, 4, 0}, {20, 0, 0}, {20.01, 0, 0}, {20, 0.01, 0}};
    tris.addFace({0, 1, 2});
    tris.addFace({3, 4, 5});
    tris.addFace({6, 7, 8});
    options.texelDensity = 4;
    bake::bakePtex(tris, *source, options, dir + "/tris.ptx");
    tx = Ptex::PtexTexture::open((dir + "/tris.ptx").c_str(), error);
    ASSERT_NE(tx, nullptr) << error;
    EXPECT_EQ(tx->meshType(), Ptex::mt_triangle);
    EXPECT_EQ(tx->getFaceInfo(0).res, Ptex::Res(2, 2));  // mean side 1.14 -> 4.6 texels
    EXPECT_EQ(tx->getFaceInfo(1).res, Ptex::Res(4, 4));  // mean side 4.55 -> 18.2 texels
    EXPECT_EQ(tx->getFaceInfo(2).res, Ptex::Res(0, 0));
    tx->release();
}

TEST(PtexBake, ThreadCountDoesNotChangeTheFile)
{
    std::string dir = test::scratchFolder("PtexBake.Threads");
    ObjMesh mesh = wavyMesh();
    auto source = bake::makeProcedural("noise", {0, 0, -0.2}, {12, 4.8, 0.2});
    for (double density : {0.0, 20.0}) {
        bake::BakeOptions options;
        options.texelDensity = density;
        options.resLog2 = 5;
        options.type = bake::TexelType::uint16;
        options.threads = 1;
        size_t lastDone = 0, calls = 0;
        options.progress = [&](size_t done, size_t total) {
            EXPECT_GT(done, lastDone);
            EXPECT_EQ(total, 24u * 15 + 12 * 6);
            lastDone = done;
            ++calls;
        };
        bake::bakePtex(mesh, *source, options, dir + "/one.ptx");
        EXPECT_EQ(lastDone, 24u * 15 + 12 * 6);
        EXPECT_GT(calls, 1u) << "the faces go through several batches";
        options.progress = nullptr;
        options.threads = 4;
        bake::bakePtex(mesh, *source, options, dir + "/four.ptx");
        EXPECT_EQ(fileHash(dir + "/one.ptx"), fileHash(dir + "/four.ptx")) << "density " << density;
    }
}

TEST(PtexBake, HelpOptionErrorsAndOutputFailures)
{
    if (test::bakeProgram().empty()) GTEST_SKIP() << "ptex-bake is not built";
    test::CommandResult help = test::runCommand({test::bakeProgram(), "--help"});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    for (const char* word : {"--texel-density", "--threads", "--res", "--image", "checker", "noise", "gradient"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;

    std::string dir = test::scratchFolder("PtexBake.Traps");
    host::writeObj(dir + "/ngon.obj", ngonMesh());
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    std::vector<Case> cases = {
        {{"--texel-density", "0"}, "--texel-density takes a number"},
        {{"--texel-density", "-3"}, "--texel-density takes a number"},
        {{"--texel-density", "nan"}, "--texel-density takes a number"},
        {{"--texel-density"}, "--texel-density needs a value"},
        {{"--threads", "0"}, "--threads takes a number"},
        {{"--threads", "2.5"}, "--threads takes a whole number"},
    };
    for (Case& c : cases) {
        c.args.insert(c.args.begin(), {test::bakeProgram(), dir + "/ngon.obj", dir + "/x.ptx"});
        test::CommandResult r = test::runCommand(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.expected;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
    }
    // Standard output that cannot be written fails the run, for the summary and for --help.
    for (const std::string& args : {std::string("--help"), dir + "/ngon.obj " + dir + "/full.ptx"}) {
        test::CommandResult full =
            test::runCommand({"/bin/sh", "-c", test::bakeProgram() + " " + args + " >/dev/full"});
        EXPECT_EQ(full.exitCode, 1) << args;
        EXPECT_NE(full.err.find("cannot write to standard output"), std::string::npos) << full.err;
    }
    // The density mode on the command line.
    test::CommandResult ok = test::runCommand({test::bakeProgram(), dir + "/ngon.obj", dir + "/d.ptx",
                                               "--texel-density", "8", "--res", "3", "--threads", "2"});
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_TRUE(ok.err.empty()) << "no progress bar when stderr is not a terminal: " << ok.err;
}
