// tarsk-render FILE.ptx and ptex-info --mesh on files written by our writer with their meshes in
// the meta data: every shaded point shows the Ptex face that lies there on the stored mesh (face
// ids in face order, an n-gon's sub-faces one per corner), the rendered colours are what tarsk-eval
// answers on the mesh that ptex-info writes, and files without a usable mesh are refused.
#include "HostTestSupport.h"
#include "ObjMesh.h"
#include "ShadingPoint.h"

#include <Ptexture.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>

using namespace tarsk;
using namespace tarsk::test;
using host::Vec3;
namespace fs = std::filesystem;

namespace {

struct StoredMesh {
    std::vector<float> positions;  // x y z per vertex, in the z = 0 plane
    std::vector<int32_t> counts, indices;
};

// A flat, convex-faced mesh of a quad, a pentagon, a triangle, a hexagon and a quad: 16 Ptex faces.
StoredMesh quadTypeMesh()
{
    StoredMesh m;
    m.positions = {0, 0, 0, 1, 0, 0, 2, -0.3f, 0, 3, 0,    0, 0, 1, 0, 1.1f, 0.9f, 0,
                   2, 1, 0, 3, 1, 0, 0, 2,     0, 1, 2.2f, 0, 2, 2, 0, 3,    2,    0};
    m.counts = {4, 5, 3, 6, 4};
    m.indices = {0, 1, 5, 4, 1, 2, 3, 7, 6, 1, 6, 5, 4, 5, 6, 10, 9, 8, 6, 7, 11, 10};
    return m;
}

// A 3 x 2 grid of cells, two triangles each with alternating diagonals, vertices moved off the grid.
StoredMesh triangleMesh()
{
    StoredMesh m;
    for (int j = 0; j <= 2; ++j)
        for (int i = 0; i <= 3; ++i) {
            m.positions.push_back(static_cast<float>(i + 0.15 * std::sin(1.7 * i + j)));
            m.positions.push_back(static_cast<float>(j + 0.15 * std::cos(2.3 * j + i)));
            m.positions.push_back(0);
        }
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i) {
            int a = j * 4 + i, b = a + 1, c = a + 5, d = a + 4;
            std::array<int32_t, 6> two =
                (i + j) % 2 ? std::array<int32_t, 6>{a, b, c, a, c, d} : std::array<int32_t, 6>{a, b, d, b, c, d};
            m.indices.insert(m.indices.end(), two.begin(), two.end());
            m.counts.insert(m.counts.end(), {3, 3});
        }
    return m;
}

// The colour of Ptex face `id`: distinct for every face of these meshes.
std::array<float, 3> faceColour(int id)
{
    return {0.05f + (id % 8) / 8.0f, 0.05f + static_cast<float>(id / 8) / 8.0f, 0.5f};
}

// The region that each Ptex face covers on the stored mesh: a face's corners, or for a face of
// d != 4 corners in a quad-type file its d sub-faces (corner k, the following edge's midpoint,
// the centre, the preceding edge's midpoint).
std::vector<std::vector<Vec3>> ptexFaceRegions(const StoredMesh& m, bool quadType)
{
    std::vector<std::vector<Vec3>> regions;
    size_t c = 0;
    for (int32_t d : m.counts) {
        std::vector<Vec3> corners;
        for (int k = 0; k < d; ++k, ++c) {
            const float* p = &m.positions[3 * static_cast<size_t>(m.indices[c])];
            corners.emplace_back(p[0], p[1], p[2]);
        }
        if (!quadType || d == 4) {
            regions.push_back(corners);
            continue;
        }
        Vec3 centre;
        for (const Vec3& p : corners) centre += p;
        centre = centre / d;
        for (int k = 0; k < d; ++k)
            regions.push_back({corners[k], (corners[k] + corners[(k + 1) % d]) / 2, centre,
                               (corners[k] + corners[(k + d - 1) % d]) / 2});
    }
    return regions;
}

// True when `p` lies inside the convex, counter-clockwise region, at least `margin` from its edges.
bool insideRegion(const std::vector<Vec3>& region, const Vec3& p, double margin)
{
    for (size_t k = 0; k < region.size(); ++k) {
        const Vec3& a = region[k];
        const Vec3& b = region[(k + 1) % region.size()];
        Vec3 edge = b - a;
        double signedDistance = (edge.x * (p.y - a.y) - edge.y * (p.x - a.x)) / host::length(edge);
        if (signedDistance < margin) return false;
    }
    return true;
}

void writePtexWithMesh(const std::string& path, const StoredMesh& m, bool quadType, bool withMesh = true)
{
    const int numFaces = static_cast<int>(ptexFaceRegions(m, quadType).size());
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), quadType ? Ptex::mt_quad : Ptex::mt_triangle, Ptex::dt_float, 3,
                                          -1, numFaces, error, false);
    ASSERT_NE(writer, nullptr) << error;
    if (withMesh) {
        writer->writeMeta("PtexFaceVertCounts", m.counts.data(), static_cast<int>(m.counts.size()));
        writer->writeMeta("PtexFaceVertIndices", m.indices.data(), static_cast<int>(m.indices.size()));
        writer->writeMeta("PtexVertPositions", m.positions.data(), static_cast<int>(m.positions.size()));
    }
    int id = 0;
    for (int32_t d : m.counts)
        for (int s = 0; s < (quadType && d != 4 ? d : 1); ++s, ++id) {
            int adjFaces[4] = {-1, -1, -1, -1}, adjEdges[4] = {0, 0, 0, 0};
            Ptex::FaceInfo info(Ptex::Res(0, 0), adjFaces, adjEdges, quadType && d != 4);
            std::array<float, 3> colour = faceColour(id);
            writer->writeConstantFace(id, info, colour.data());
        }
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
}

struct DumpedPixel {
    double rgba[4];
};

// Each check runs on a quad-type file (quads with n-gons as sub-faces) and on a triangle-type file.
class RenderPtexFile : public ::testing::Test {
protected:
    void everyPointShowsThePtexFaceThatLiesThere(bool quadType);
    void coloursEqualWhatTarskEvalAnswersOnTheMeshPtexInfoWrites(bool quadType);
    void filesWithoutAUsableMeshAreRefused(bool quadType);

    void SetUp() override
    {
        if (renderProgram().empty() || infoProgram().empty()) GTEST_SKIP() << "tarsk-render or ptex-info is not built";
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '-';
        dir = scratchFolder(name);
    }

    CommandResult render(std::vector<std::string> args)
    {
        args.insert(args.begin(), renderProgram());
        for (const char* a : {"--quiet", "--width", "160", "--height", "120", "--spp", "1", "--threads", "2"})
            args.push_back(a);
        args.push_back("--plugin");
        args.push_back(pluginPath());
        return runCommand(args);
    }

    std::vector<DumpedPixel> readPixels(const std::string& path)
    {
        std::vector<DumpedPixel> pixels;
        std::vector<std::string> lines = splitLines(readFile(path));
        for (size_t i = 1; i < lines.size(); ++i) {
            std::istringstream row(lines[i]);
            int x, y;
            std::string object;
            DumpedPixel p;
            row >> x >> y >> object >> p.rgba[0] >> p.rgba[1] >> p.rgba[2] >> p.rgba[3];
            pixels.push_back(p);
        }
        return pixels;
    }

    std::string dir;
};

}  // namespace

void RenderPtexFile::everyPointShowsThePtexFaceThatLiesThere(bool quadType)
{
    const StoredMesh mesh = quadType ? quadTypeMesh() : triangleMesh();
    const std::string ptx = dir + "/stored.ptx";
    writePtexWithMesh(ptx, mesh, quadType);
    CommandResult r = render({ptx, "--filter", "point", "-o", dir + "/point.exr", "--dump-points", "400"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<host::ShadingPoint> points = host::readPoints(dir + "/point.points.tsv");
    std::vector<DumpedPixel> pixels = readPixels(dir + "/point.pixels.tsv");
    ASSERT_EQ(points.size(), pixels.size());
    ASSERT_GT(points.size(), 150u) << "the automatic camera does not fill the view with the mesh";

    const std::vector<std::vector<Vec3>> regions = ptexFaceRegions(mesh, quadType);
    int checked = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        int id = -1;
        for (size_t f = 0; f < regions.size() && id < 0; ++f)
            if (insideRegion(regions[f], points[i].hitPoint, 0.02)) id = static_cast<int>(f);
        if (id < 0) continue;  // too close to a face edge to say
        std::array<float, 3> expected = faceColour(id);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixels[i].rgba[c], expected[c], 1e-6) << "Ptex face " << id;
        ++checked;
    }
    EXPECT_GT(checked, static_cast<int>(points.size()) * 3 / 4);
}

void RenderPtexFile::coloursEqualWhatTarskEvalAnswersOnTheMeshPtexInfoWrites(bool quadType)
{
    const StoredMesh mesh = quadType ? quadTypeMesh() : triangleMesh();
    const std::string ptx = dir + "/stored.ptx";
    writePtexWithMesh(ptx, mesh, quadType);

    CommandResult info = runCommand({infoProgram(), "--mesh", ptx, dir + "/stored.obj"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    host::ObjMesh obj = host::readObj(dir + "/stored.obj");
    ASSERT_EQ(obj.faceDegrees, mesh.counts);
    ASSERT_EQ(obj.cornerPositions, mesh.indices);
    ASSERT_EQ(obj.positions.size() * 3, mesh.positions.size());
    for (size_t v = 0; v < obj.positions.size(); ++v) {
        EXPECT_EQ(static_cast<float>(obj.positions[v].x), mesh.positions[3 * v]);
        EXPECT_EQ(static_cast<float>(obj.positions[v].y), mesh.positions[3 * v + 1]);
    }

    // The default filter (bicubic) reads neighbours too: the answer must still be the same.
    CommandResult r = render({ptx, "-o", dir + "/default.png", "--dump-points", "200"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir + "/default.png"));
    writeFile(dir + "/scene.json",
              "{\"objects\": [{\"name\": \"stored\", \"mesh\": {\"obj\": \"stored.obj\"},\n"
              " \"texture\": {\"type\": \"TexPtex\", \"ptex_file\": \"stored.ptx\", \"filter_type\": 4, "
              "\"sharpness\": 0.5}}]}\n");
    CommandResult e =
        runCommand({evalProgram(), dir + "/scene.json", dir + "/default.points.tsv", "--plugin", pluginPath()});
    ASSERT_EQ(e.exitCode, 0) << e.err;
    std::vector<std::string> evaluated = splitLines(e.out);
    std::vector<DumpedPixel> pixels = readPixels(dir + "/default.pixels.tsv");
    ASSERT_EQ(evaluated.size(), pixels.size());
    ASSERT_GT(pixels.size(), 50u);
    for (size_t i = 0; i < evaluated.size(); ++i) {
        std::istringstream answer(evaluated[i]);
        double expected[4];
        answer >> expected[0] >> expected[1] >> expected[2] >> expected[3];
        for (int c = 0; c < 4; ++c) EXPECT_EQ(pixels[i].rgba[c], expected[c]) << "point " << i << " channel " << c;
    }
}

void RenderPtexFile::filesWithoutAUsableMeshAreRefused(bool quadType)
{
    StoredMesh mesh = quadType ? quadTypeMesh() : triangleMesh();
    writePtexWithMesh(dir + "/bare.ptx", mesh, quadType, false);
    StoredMesh fewer = mesh;
    fewer.counts.pop_back();  // the faces no longer account for the file's Ptex faces
    fewer.indices.resize(fewer.indices.size() - (quadType ? 4 : 3));
    writePtexWithMesh(dir + "/fewer.ptx", mesh, quadType);
    {
        // Same file, but its stored mesh has one face less than its textures.
        Ptex::String error;
        PtexWriter* writer = PtexWriter::edit((dir + "/fewer.ptx").c_str(), true,
                                              quadType ? Ptex::mt_quad : Ptex::mt_triangle, Ptex::dt_float, 3, -1,
                                              static_cast<int>(ptexFaceRegions(mesh, quadType).size()), error, false);
        ASSERT_NE(writer, nullptr) << error;
        writer->writeMeta("PtexFaceVertCounts", fewer.counts.data(), static_cast<int>(fewer.counts.size()));
        writer->writeMeta("PtexFaceVertIndices", fewer.indices.data(), static_cast<int>(fewer.indices.size()));
        ASSERT_TRUE(writer->close(error)) << error;
        writer->release();
    }
    struct Case {
        std::string file;
        std::string expected;
    };
    for (const Case& c :
         {Case{"bare.ptx",
               "holds no mesh in its meta data: it needs the keys PtexFaceVertCounts, "
               "PtexFaceVertIndices and PtexVertPositions"},
          Case{"fewer.ptx", "the mesh in the meta data accounts for"}, Case{"absent.ptx", "cannot read Ptex file"}}) {
        CommandResult r = render({dir + "/" + c.file, "-o", dir + "/x.png"});
        EXPECT_EQ(r.exitCode, 1) << c.file;
        EXPECT_TRUE(r.err.rfind("error: ", 0) == 0) << r.err;
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        CommandResult info = runCommand({infoProgram(), "--mesh", dir + "/" + c.file, dir + "/x.obj"});
        EXPECT_EQ(info.exitCode, 1) << c.file;
        EXPECT_NE(info.err.find(c.expected), std::string::npos) << info.err;
    }
    EXPECT_FALSE(fs::exists(dir + "/x.png"));
    EXPECT_FALSE(fs::exists(dir + "/x.obj"));
    CommandResult badFilter = render({dir + "/bare.ptx", "--filter", "sharp", "-o", dir + "/x.png"});
    EXPECT_EQ(badFilter.exitCode, 1);
    EXPECT_NE(badFilter.err.find("unknown filter 'sharp'; --filter takes one of point, bilinear"), std::string::npos)
        << badFilter.err;
}

TEST_F(RenderPtexFile, EveryPointShowsThePtexFaceThatLiesThereOnAQuadFile)
{
    everyPointShowsThePtexFaceThatLiesThere(true);
}
TEST_F(RenderPtexFile, EveryPointShowsThePtexFaceThatLiesThereOnATriangleFile)
{
    everyPointShowsThePtexFaceThatLiesThere(false);
}
TEST_F(RenderPtexFile, ColoursEqualWhatTarskEvalAnswersOnTheMeshPtexInfoWritesOnAQuadFile)
{
    coloursEqualWhatTarskEvalAnswersOnTheMeshPtexInfoWrites(true);
}
TEST_F(RenderPtexFile, ColoursEqualWhatTarskEvalAnswersOnTheMeshPtexInfoWritesOnATriangleFile)
{
    coloursEqualWhatTarskEvalAnswersOnTheMeshPtexInfoWrites(false);
}
TEST_F(RenderPtexFile, FilesWithoutAUsableMeshAreRefusedOnAQuadFile) { filesWithoutAUsableMeshAreRefused(true); }
TEST_F(RenderPtexFile, FilesWithoutAUsableMeshAreRefusedOnATriangleFile) { filesWithoutAUsableMeshAreRefused(false); }
