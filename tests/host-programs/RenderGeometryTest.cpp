// tarsk-render's ray-tracing geometry: rays through the shared edges of a watertight mesh hit it.
#include "Scene.h"
#include "SceneGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tarsk;
using host::Vec3;
using nlohmann::json;

namespace {

constexpr int kGrid = 12;

int gridVertex(int i, int j) { return j * (kGrid + 1) + i; }

// A kGrid x kGrid grid of quads, tilted out of every axis plane and bent, as one object with
// fan-triangulated quads: each quad's two render triangles share its corner-0 to corner-2 diagonal.
host::Scene bentGrid()
{
    json vertices = json::array(), origFaces = json::array(), degrees = json::array(), faces = json::array();
    for (int j = 0; j <= kGrid; ++j)
        for (int i = 0; i <= kGrid; ++i) {
            Vec3 p = Vec3(-1.3, 0.2, -0.7) + Vec3(0.31, 0.07, 0.11) * i + Vec3(-0.05, 0.23, 0.17) * j +
                     Vec3(0, 0, 0.3 * std::sin(i * 0.7) * std::cos(j * 0.5));
            vertices.push_back({p.x, p.y, p.z});
        }
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            int a = gridVertex(i, j), b = gridVertex(i + 1, j), c = gridVertex(i + 1, j + 1), d = gridVertex(i, j + 1);
            for (int v : {a, b, c, d}) origFaces.push_back(v);
            degrees.push_back(4);
            for (int v : {a, b, c, a, c, d}) faces.push_back(v);
        }
    json mesh = {{"vertices", vertices}, {"origFaces", origFaces}, {"origFacesDegree", degrees}, {"faces", faces}};
    json doc = {{"objects", {{{"name", "grid"}, {"mesh", mesh}, {"texture", {{"type", "TexPtex"}}}}}}};
    return host::parseScene(doc, "grid.json", ".");
}

}  // namespace

TEST(RenderGeometry, RaysThroughSharedEdgesAlwaysHit)
{
    host::Scene scene = bentGrid();
    render::SceneGeometry geometry(scene, 0.0);
    const auto& positions = scene.objects[0].vertices.keys[0].second;
    auto vertex = [&](int index) {
        const auto& q = positions[static_cast<size_t>(index)];
        return Vec3(q.x, q.y, q.z);
    };
    const Vec3 eyes[] = {{0.4, 0.9, 3.1}, {-2.0, 1.7, 2.2}, {1.1, -0.6, 2.9}};
    int rays = 0, misses = 0;
    auto shoot = [&](const Vec3& from, const Vec3& through) {
        ++rays;
        misses += geometry.intersect(from, through - from, 0.0f, 1e30f).object != 0;
    };
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i)
            for (int k = 1; k < 64; ++k) {
                // Points on the quad's diagonal (shared by its two triangles) and on the edges it
                // shares with the next quads, each seen from several eyes and straight from above.
                const double t = k / 64.0;
                const Vec3 a = vertex(gridVertex(i, j));
                Vec3 onEdges[] = {a + (vertex(gridVertex(i + 1, j + 1)) - a) * t,
                                  a + (vertex(gridVertex(i + 1, j)) - a) * t,
                                  a + (vertex(gridVertex(i, j + 1)) - a) * t};
                const int edges = (i > 0 && j > 0) ? 3 : 1;  // mesh-border edges have one side only
                for (int e = 0; e < edges; ++e) {
                    for (const Vec3& eye : eyes) shoot(eye, onEdges[e]);
                    shoot(onEdges[e] + Vec3(0, 0, 2), onEdges[e]);
                }
            }
    EXPECT_EQ(misses, 0) << "of " << rays << " rays through shared edges";
}
