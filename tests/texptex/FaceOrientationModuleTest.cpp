// tarsk_TexPtex.so loaded as a host loads it, evaluated on random non-planar polygons: turning an
// object must not change its texture, and no parameter a host can set makes a colour non-finite.
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "Rotation.h"
#include "TexPtexHarness.h"

#include <tarsk/ShadingContext.h>
#include <tarsk/TarskPluginParameter.h>
#include <tarsk/TarskRenderer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace TUtils;
using texptex_test::MeshLists;

namespace {

// One TexPtex instance of the loaded library with its renderer, driven through the interfaces a
// host uses.
class ModuleTexture {
public:
    ModuleTexture(PluginDesc& desc, int numThreads = 1) : instance(desc), renderer(numThreads, 0.0, nullptr) {}
    ~ModuleTexture()
    {
        if (begun) {
            instance.pluginInterface()->frameEnd(&renderer);
            instance.pluginInterface()->renderEnd(&renderer);
        }
    }
    bool valid() const { return instance.valid() && instance.pluginInterface() && instance.texture(); }

    void set(TarskPluginParameter& param)
    {
        EXPECT_EQ(instance.pluginInterface()->setParameter(&param), 1) << param.getName();
    }
    void setInt(const char* name, int32_t value)
    {
        TarskPluginParameter p(name);
        p.setInt(0.0, value);
        set(p);
    }
    void setFloat(const char* name, float value)
    {
        TarskPluginParameter p(name);
        p.setFloat(0.0, value);
        set(p);
    }
    void setString(const char* name, const std::string& value)
    {
        TarskPluginParameter p(name);
        p.setString(0.0, value.c_str());
        set(p);
    }
    void setMesh(const MeshLists& lists)
    {
        TarskPluginParameter vertices("vertices"), origFaces("origFaces"), degrees("origFacesDegree"), faces("faces");
        vertices.setVectorList(0.0, lists.vertices);
        origFaces.setIntList(0.0, lists.origFaces);
        degrees.setIntList(0.0, lists.origFacesDegree);
        faces.setIntList(0.0, lists.faces);
        for (TarskPluginParameter* p : {&vertices, &origFaces, &degrees, &faces}) set(*p);
    }
    void begin()
    {
        instance.pluginInterface()->renderBegin(&renderer);
        instance.pluginInterface()->frameBegin(&renderer);
        begun = true;
    }
    Color eval(ShadingContext& context) { return instance.texture()->evalColor(context); }

private:
    PluginInstance instance;
    TarskRenderer renderer;
    bool begun = false;
};

class FaceOrientation : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        library = PluginLibrary::load(TEXPTEX_MODULE, host, error);
        ASSERT_NE(library, nullptr) << error;
        ASSERT_EQ(library->plugins().size(), 1u);
    }
    void TearDown() override { library.reset(); }

    PluginDesc& desc() { return *library->plugins()[0]; }

    TarskPluginHost host;
    std::unique_ptr<PluginLibrary> library;
};

using texptex_test::Rotation;

Vector3f minus(const Vector3f& a, const Vector3f& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// Polygons of degrees 3 ... 8 (quads among them) in the xy plane around their own centres, their
// corners lifted off the plane by up to 10 % of the polygon's size, and fanned from corner 0.
MeshLists randomPolygons(std::mt19937& rng)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<Vector3f> vertices;
    std::vector<std::vector<int32_t>> polygons;
    const int degrees[] = {3, 4, 5, 6, 7, 8, 4, 5, 4, 3, 6, 4};
    int index = 0;
    for (int d : degrees) {
        const double size = 0.5 + unit(rng), cx = 3.0 * index, cy = 2.0 * unit(rng);
        // Corners at increasing angles, each within its own sector, so the polygon is star-shaped
        // around its centre and its fan from corner 0 covers it.
        std::vector<int32_t> polygon;
        const double start = 6.283185307179586 * unit(rng);
        for (int k = 0; k < d; ++k) {
            const double angle = start + 6.283185307179586 * (k + 0.2 + 0.6 * unit(rng)) / d;
            const double radius = size * (0.8 + 0.4 * unit(rng));
            const double lift = size * 0.1 * (2 * unit(rng) - 1);
            polygon.push_back(static_cast<int32_t>(vertices.size()));
            vertices.push_back(
                {float(cx + radius * std::cos(angle)), float(cy + radius * std::sin(angle)), float(lift)});
        }
        polygons.push_back(polygon);
        ++index;
    }
    return texptex_test::fanMesh(vertices, polygons);
}

// A shading point on render triangle t at weights (a, b), in the mesh's own space, with
// differentials dx and dy.
ShadingContext contextOn(const MeshLists& mesh, const ShadingThread& thread, int t, float a, float b, Vector3f dx,
                         Vector3f dy)
{
    ShadingContext c;
    c.thread = &thread;
    c.faceIndex = t;
    c.weightA = a;
    c.weightB = b;
    const Vector3f& o = mesh.vertices[size_t(mesh.faces[3 * size_t(t)])];
    c.triOrigin = o;
    c.triEdgeA = minus(mesh.vertices[size_t(mesh.faces[3 * size_t(t) + 1])], o);
    c.triEdgeB = minus(mesh.vertices[size_t(mesh.faces[3 * size_t(t) + 2])], o);
    c.dPdx = dx;
    c.dPdy = dy;
    return c;
}

bool finite(const Color& c)
{
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a);
}

}  // namespace

// The same polygons and shading points, once as modelled and once turned by a rotation (among
// them the two that stand the polygons edge-on to the xy plane): every filter must return the
// same colour, to within the rounding of the rotated data. The texels hold (Ptex face id, u, v),
// so the colour shows where the evaluation looked, and with a footprint how wide.
//
// Tolerance: rotating the vertices in float moves every position by a few units in the last
// place, about 1e-6 of the coordinates here, and the face coordinates by about as much. Filters
// with a footprint are smooth in (u, v) on this texture, so their colours agree to 2e-4. The
// point filter returns the centre of the texel under (u, v): a point within rounding of a texel
// boundary may read the neighbouring texel, one texel (1/64) away, which is allowed for at most
// 1 % of the points. The face id must agree everywhere. Choosing the first usable axis pair
// instead of the best one misses by up to a quarter of a face on these polygons.
TEST_F(FaceOrientation, RotatedPolygonsKeepTheirTexture)
{
    constexpr int kLog2 = 6;
    constexpr float kTexel = 1.0f / (1 << kLog2);
    std::mt19937 rng(2024);
    const MeshLists original = randomPolygons(rng);
    std::vector<bool> subfaces;
    for (int32_t d : original.origFacesDegree)
        for (int k = 0; k < (d == 4 ? 1 : d); ++k) subfaces.push_back(d != 4);
    const std::string path = texptex_test::writeIdTexture("orientation-polygons.ptx", true,
                                                          texptex_test::ptexFaceCount(original, true), kLog2, subfaces);

    // Shading points inside the render triangles, away from their edges (where the render
    // triangles of one polygon meet and which of them the host names is a matter of rounding),
    // with footprints of a few texels in random directions.
    struct Point {
        int t;
        float a, b;
        Vector3f dx, dy;
    };
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), spread(-0.05f, 0.05f);
    std::vector<Point> points;
    const int numTriangles = static_cast<int>(original.faces.size() / 3);
    for (int t = 0; t < numTriangles; ++t)
        for (int i = 0; i < 12; ++i) {
            float a = 0.02f + 0.96f * unit(rng), b = 0.02f + 0.96f * unit(rng);
            if (a + b > 0.98f) a = 0.98f - a, b = 0.98f - b;
            if (a < 0.02f || b < 0.02f) continue;
            points.push_back(
                {t, a, b, {spread(rng), spread(rng), spread(rng)}, {spread(rng), spread(rng), spread(rng)}});
        }

    const Rotation rotations[] = {Rotation(0, 1, 0, 1.5707963267948966), Rotation(1, 0, 0, 1.5707963267948966),
                                  Rotation(0.3, -0.8, 0.5, 2.1), Rotation(-0.7, 0.1, 0.7, 0.9),
                                  Rotation(0.2, 0.9, -0.4, 4.4)};
    ShadingThread thread;
    for (const Rotation& r : rotations) {
        MeshLists turned = original;
        for (Vector3f& v : turned.vertices) v = r(v);
        for (int type = 0; type <= 7; ++type) {
            ModuleTexture before(desc()), after(desc());
            ASSERT_TRUE(before.valid() && after.valid());
            for (ModuleTexture* tex : {&before, &after}) {
                tex->setString("ptex_file", path);
                tex->setInt("filter_type", type);
            }
            before.setMesh(original);
            after.setMesh(turned);
            before.begin();
            after.begin();
            int texelSteps = 0;
            float worst = 0.0f;
            for (const Point& p : points) {
                ShadingContext c1 = contextOn(original, thread, p.t, p.a, p.b, p.dx, p.dy);
                ShadingContext c2 = contextOn(turned, thread, p.t, p.a, p.b, r(p.dx), r(p.dy));
                const Color x = before.eval(c1), y = after.eval(c2);
                ASSERT_TRUE(finite(x) && finite(y));
                // The face id channel is constant per face: filters average it to within rounding.
                ASSERT_NEAR(x.r, y.r, 2e-6f * (1 + x.r)) << "the Ptex face, filter " << type << " triangle " << p.t;
                const float du = std::fabs(x.g - y.g), dv = std::fabs(x.b - y.b);
                worst = std::max({worst, du, dv});
                if (type == 0) {
                    EXPECT_LE(std::max(du, dv), kTexel * 1.001f) << "triangle " << p.t;
                    if (std::max(du, dv) > 0.0f) ++texelSteps;
                } else {
                    EXPECT_LE(std::max(du, dv), 2e-4f) << "filter " << type << " triangle " << p.t;
                }
            }
            if (type == 0) {
                EXPECT_LE(texelSteps, static_cast<int>(points.size()) / 100);
            }
            ::testing::Test::RecordProperty("filter" + std::to_string(type), std::to_string(worst));
            std::printf("filter %d: largest difference %.3g, %d texel steps\n", type, worst, texelSteps);
        }
    }
}

// Whatever "sharpness", "width" and "blur" a host sets, the colour is finite, for every filter
// type, on quads, n-gons and triangle-type files, with footprints from none to huge.
TEST_F(FaceOrientation, ExtremeFilterParametersGiveFiniteColours)
{
    std::mt19937 rng(9);
    const MeshLists polygons = randomPolygons(rng);
    const MeshLists triangles =
        texptex_test::fanMesh({{0, 0, 0}, {1, 0, 0.2f}, {1, 1, 0}, {0, 1, -0.3f}}, {{0, 1, 2}, {0, 2, 3}});
    const std::string quadPath = texptex_test::writeIdTexture("orientation-extreme-quad.ptx", true,
                                                              texptex_test::ptexFaceCount(polygons, true), 4);
    const std::string triPath = texptex_test::writeIdTexture("orientation-extreme-tri.ptx", false, 2, 4);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float extremes[] = {1e30f, -1e30f, nan, inf, -inf, 1e19f, 1e5f, -1e5f, 0.0f};
    const Vector3f footprints[] = {{0, 0, 0}, {0.01f, 0.02f, 0}, {1e3f, 0, 5}, {1e30f, -1e30f, 3e38f}};
    std::uniform_real_distribution<float> unit(0.0f, 0.5f);
    ShadingThread thread;
    int evaluated = 0;
    for (bool quad : {true, false}) {
        const MeshLists& mesh = quad ? polygons : triangles;
        const int numTriangles = static_cast<int>(mesh.faces.size() / 3);
        for (int type = 0; type <= 7; ++type) {
            for (const char* name : {"sharpness", "width", "blur"}) {
                for (float value : extremes) {
                    ModuleTexture tex(desc());
                    ASSERT_TRUE(tex.valid());
                    tex.setString("ptex_file", quad ? quadPath : triPath);
                    tex.setInt("filter_type", type);
                    tex.setFloat(name, value);
                    tex.setMesh(mesh);
                    tex.begin();
                    for (int i = 0; i < 8; ++i) {
                        const Vector3f& dx = footprints[i % 4];
                        ShadingContext c = contextOn(mesh, thread, (i * 7) % numTriangles, unit(rng), unit(rng), dx,
                                                     {dx.y, dx.x, -dx.z});
                        const Color color = tex.eval(c);
                        EXPECT_TRUE(finite(color))
                            << (quad ? "quad" : "triangle") << " filter " << type << " " << name << " " << value << ": "
                            << color.r << " " << color.g << " " << color.b << " " << color.a;
                        ++evaluated;
                    }
                }
            }
        }
    }
    EXPECT_GT(evaluated, 3000);
}
