// tarsk-render's shading normals, through the program: a sphere shades smoothly across its
// triangle edges, a cube keeps its edges, and an OBJ's own normals are the ones shaded with.
#include "HostTestSupport.h"
#include "ImageFile.h"
#include "ObjMesh.h"
#include "Scene.h"
#include "SceneGeometry.h"

#include <Ptexture.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace tarsk;
using namespace tarsk::test;
using host::Vec3;

namespace {

// A UV sphere of radius 1 as triangles, `segments` around and `rings` from pole to pole.
host::ObjMesh triangleSphere(int segments, int rings)
{
    host::ObjMesh mesh;
    for (int r = 0; r <= rings; ++r)
        for (int s = 0; s < segments; ++s) {
            double theta = M_PI * r / rings, phi = 2 * M_PI * s / segments;
            mesh.positions.push_back(
                {std::sin(theta) * std::cos(phi), std::cos(theta), std::sin(theta) * std::sin(phi)});
        }
    auto v = [&](int r, int s) { return r * segments + (s % segments); };
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            if (r > 0) mesh.addFace({v(r, s), v(r, s + 1), v(r + 1, s + 1)});
            if (r < rings - 1) mesh.addFace({v(r, s), v(r + 1, s + 1), v(r + 1, s)});
        }
    return mesh;
}

// A Ptex file whose faces are all one constant grey, for a mesh of `numFaces` faces.
void writeConstantPtex(const std::string& path, Ptex::MeshType type, int numFaces)
{
    Ptex::String error;
    PtexWriter* writer = PtexWriter::open(path.c_str(), type, Ptex::dt_float, 3, -1, numFaces, error, false);
    ASSERT_NE(writer, nullptr) << error;
    const float grey[3] = {0.8f, 0.8f, 0.8f};
    for (int f = 0; f < numFaces; ++f) writer->writeConstantFace(f, Ptex::FaceInfo(Ptex::Res(0, 0)), grey);
    ASSERT_TRUE(writer->close(error)) << error;
    writer->release();
}

class RenderShading : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (renderProgram().empty()) GTEST_SKIP() << "tarsk-render is not built";
        dir = scratchFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // Renders `obj` with a constant texture under a light from the upper left, flat or smooth.
    bake::Image render(const std::string& obj, const std::string& ptx, bool shadingNormals)
    {
        std::string scene = dir + "/scene.json";
        writeFile(scene,
                  "{\"camera\": {\"position\": [2.6, 2.1, 3.2], \"look_at\": [0, 0, 0], \"fov_deg\": 35},\n"
                  " \"image\": {\"width\": 160, \"height\": 160}, \"background\": [0, 0, 0],\n"
                  " \"light\": {\"direction\": [0.5, -0.6, -0.6], \"ambient\": 0.1},\n"
                  " \"objects\": [{\"mesh\": {\"obj\": \"" +
                      obj + "\"}, \"shading_normals\": " + (shadingNormals ? "true" : "false") +
                      ", \"texture\": {\"type\": \"TexPtex\", \"ptex_file\": \"" + ptx + "\"}}]}\n");
        CommandResult r =
            runCommand({renderProgram(), scene, "-o", dir + "/out.exr", "--plugin", pluginPath(), "--quiet"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return bake::readImage(dir + "/out.exr");
    }

    std::string dir;
};

// The largest change of brightness between neighbouring pixels that both lie at least two pixels
// inside the silhouette (background pixels are black).
double largestInnerStep(const bake::Image& image)
{
    auto inside = [&](int x, int y) {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) {
                int px = x + dx, py = y + dy;
                if (px < 0 || py < 0 || px >= image.width || py >= image.height || image.pixel(px, py)[1] <= 0)
                    return false;
            }
        return true;
    };
    double largest = 0;
    for (int y = 0; y + 1 < image.height; ++y)
        for (int x = 0; x + 1 < image.width; ++x) {
            if (!inside(x, y)) continue;
            const float here = image.pixel(x, y)[1];
            if (inside(x + 1, y)) largest = std::max<double>(largest, std::fabs(image.pixel(x + 1, y)[1] - here));
            if (inside(x, y + 1)) largest = std::max<double>(largest, std::fabs(image.pixel(x, y + 1)[1] - here));
        }
    return largest;
}

}  // namespace

TEST_F(RenderShading, SphereShadesSmoothlyAcrossTriangleEdges)
{
    host::ObjMesh sphere = triangleSphere(16, 8);
    host::writeObj(dir + "/sphere.obj", sphere);
    writeConstantPtex(dir + "/grey.ptx", Ptex::mt_triangle, sphere.numFaces());
    const double flat = largestInnerStep(render("sphere.obj", "grey.ptx", false));
    const double smooth = largestInnerStep(render("sphere.obj", "grey.ptx", true));
    // Flat shading jumps at every triangle edge; smooth shading changes by about what the light's
    // angle changes over one pixel.
    // (Measured: flat 0.32, smooth 0.047, the latter near the silhouette where the light's angle
    // changes fastest.)
    EXPECT_GT(flat, 0.15);
    EXPECT_LT(smooth, 0.08);
    EXPECT_LT(smooth * 4, flat) << "flat " << flat << ", smooth " << smooth;
}

TEST_F(RenderShading, CubeKeepsItsEdges)
{
    host::ObjMesh cube;
    for (int k = 0; k < 8; ++k) cube.positions.push_back({k & 1 ? 0.7 : -0.7, k & 2 ? 0.7 : -0.7, k & 4 ? 0.7 : -0.7});
    for (const std::vector<int32_t>& face : std::vector<std::vector<int32_t>>{
             {0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}})
        cube.addFace(face);
    host::writeObj(dir + "/cube.obj", cube);
    writeConstantPtex(dir + "/grey.ptx", Ptex::mt_quad, 6);
    bake::Image flat = render("cube.obj", "grey.ptx", false);
    bake::Image smooth = render("cube.obj", "grey.ptx", true);
    // Faces meet at 90 degrees, beyond the crease angle: every face shades with its own normal.
    double largestDifference = 0;
    for (size_t i = 0; i < flat.rgba.size(); ++i)
        largestDifference = std::max<double>(largestDifference, std::fabs(flat.rgba[i] - smooth.rgba[i]));
    EXPECT_LT(largestDifference, 1e-3);
    EXPECT_GT(largestInnerStep(smooth), 0.1) << "the cube's edges are not visible";
}

TEST(RenderShadingNormals, ObjNormalsAreTheOnesShadedWith)
{
    // One quad in the z = 0 plane whose OBJ normals lean towards +x at one side, -x at the other;
    // its transform turns it about y by 90 degrees, which turns the normals with it.
    const std::string dir = scratchFolder("ObjNormalsAreTheOnesShadedWith");
    writeFile(dir + "/quad.obj",
              "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn -1 0 1\nvn 1 0 1\n"
              "f 1//1 2//2 3//2 4//1\n");
    nlohmann::json doc = {{"objects",
                           {{{"mesh", {{"obj", "quad.obj"}}},
                             {"transform", {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 1}},
                             {"texture", {{"type", "TexPtex"}}}}}}};
    host::Scene scene = host::parseScene(doc, dir + "/s.json", dir);
    render::SceneGeometry geometry(scene, 0.0);
    // Straight at the quad (now in the x = 0 plane) at object-space (0.25, 0.5) and (0.75, 0.5).
    for (double u : {0.25, 0.75}) {
        render::Hit hit = geometry.intersect({3, 0.5, -u}, {-1, 0, 0}, 0.0f, 1e30f);
        ASSERT_EQ(hit.object, 0);
        Vec3 n = geometry.shadingNormal(hit);
        // Object-space normal (2u - 1, 0, 1) normalised, turned: world (1, 0, 1 - 2u) normalised.
        Vec3 expected = host::normalize(Vec3(1, 0, 1 - 2 * u));
        EXPECT_NEAR(n.x, expected.x, 1e-5);
        EXPECT_NEAR(n.y, expected.y, 1e-5);
        EXPECT_NEAR(n.z, expected.z, 1e-5);
    }
    scene.objects[0].shadingNormals = false;
    render::SceneGeometry flat(scene, 0.0);
    render::Hit hit = flat.intersect({3, 0.5, -0.25}, {-1, 0, 0}, 0.0f, 1e30f);
    ASSERT_EQ(hit.object, 0);
    EXPECT_NEAR(std::fabs(flat.shadingNormal(hit).x), 1.0, 1e-6);
}
