#include "DemoScene.h"

#include "HostError.h"
#include "ObjMesh.h"
#include "PtexBaker.h"
#include "TexelSource.h"
#include "Transform.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace tarsk::render {

using host::ObjMesh;
using host::Vec3;
namespace fs = std::filesystem;

std::string demoCacheDir()
{
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return (fs::path(xdg) / "tarsk-demo").string();
    if (const char* home = std::getenv("HOME"); home && *home)
        return (fs::path(home) / ".cache" / "tarsk-demo").string();
    return (fs::temp_directory_path() / "tarsk-demo").string();
}

namespace {

// A 4 x 3 grid of cells bent into a shallow arc. Two cells of the middle row are merged into a
// pentagon plus a triangle, two of the top row into a hexagon, so the quad-type file gets sub-faces.
ObjMesh curvedPanel()
{
    constexpr int nx = 4, ny = 3;
    ObjMesh mesh;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i) {
            double angle = (i / double(nx) - 0.5) * 1.1;
            mesh.positions.push_back({1.6 * std::sin(angle), j * 0.55, 1.6 * (std::cos(angle) - 1.0)});
        }
    auto v = [&](int i, int j) { return j * (nx + 1) + i; };
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            if (j == 1 && i == 1) {
                // Cells (1,1) and (2,1): pentagon a b c d e and triangle a e f.
                mesh.addFace({v(1, 1), v(2, 1), v(3, 1), v(3, 2), v(2, 2)});
                mesh.addFace({v(1, 1), v(2, 2), v(1, 2)});
                continue;
            }
            if (j == 1 && i == 2) continue;
            if (j == 2 && i == 0) {
                mesh.addFace({v(0, 2), v(1, 2), v(2, 2), v(2, 3), v(1, 3), v(0, 3)});  // hexagon
                continue;
            }
            if (j == 2 && i == 1) continue;
            mesh.addFace({v(i, j), v(i + 1, j), v(i + 1, j + 1), v(i, j + 1)});
        }
    return mesh;
}

// An icosahedron subdivided twice onto the unit sphere: 320 triangles.
ObjMesh icosphere()
{
    const double t = (1.0 + std::sqrt(5.0)) / 2.0;
    std::vector<Vec3> p = {{-1, t, 0},  {1, t, 0},  {-1, -t, 0}, {1, -t, 0}, {0, -1, t},  {0, 1, t},
                           {0, -1, -t}, {0, 1, -t}, {t, 0, -1},  {t, 0, 1},  {-t, 0, -1}, {-t, 0, 1}};
    for (Vec3& q : p) q = host::normalize(q);
    std::vector<std::array<int, 3>> tris = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                            {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                            {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                            {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    for (int level = 0; level < 2; ++level) {
        std::map<std::pair<int, int>, int> middle;
        auto mid = [&](int a, int b) {
            auto key = std::make_pair(std::min(a, b), std::max(a, b));
            auto found = middle.find(key);
            if (found != middle.end()) return found->second;
            p.push_back(host::normalize((p[a] + p[b]) / 2));
            return middle[key] = static_cast<int>(p.size()) - 1;
        };
        std::vector<std::array<int, 3>> finer;
        for (const auto& tri : tris) {
            int ab = mid(tri[0], tri[1]), bc = mid(tri[1], tri[2]), ca = mid(tri[2], tri[0]);
            finer.push_back({tri[0], ab, ca});
            finer.push_back({tri[1], bc, ab});
            finer.push_back({tri[2], ca, bc});
            finer.push_back({ab, bc, ca});
        }
        tris = finer;
    }
    ObjMesh mesh;
    mesh.positions = p;
    for (const auto& tri : tris) mesh.addFace({tri[0], tri[1], tri[2]});
    return mesh;
}

// The unit cube centred at the origin, faces wound outwards.
ObjMesh cube()
{
    ObjMesh mesh;
    for (int k = 0; k < 8; ++k) mesh.positions.push_back({k & 1 ? 0.5 : -0.5, k & 2 ? 0.5 : -0.5, k & 4 ? 0.5 : -0.5});
    mesh.addFace({0, 2, 3, 1});
    mesh.addFace({4, 5, 7, 6});
    mesh.addFace({0, 1, 5, 4});
    mesh.addFace({2, 6, 7, 3});
    mesh.addFace({0, 4, 6, 2});
    mesh.addFace({1, 3, 7, 5});
    return mesh;
}

void bounds(const ObjMesh& mesh, Vec3& lo, Vec3& hi)
{
    lo = {1e300, 1e300, 1e300};
    hi = {-1e300, -1e300, -1e300};
    for (const Vec3& p : mesh.positions) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
}

void bake(const ObjMesh& mesh, const std::string& procedural, const bake::BakeOptions& options, const std::string& path)
{
    Vec3 lo, hi;
    bounds(mesh, lo, hi);
    bake::bakePtex(mesh, *bake::makeProcedural(procedural, lo, hi), options, path);
}

nlohmann::json placed(const std::string& name, const std::string& obj, double scale, const Vec3& at, double turnY,
                      nlohmann::json texture, bool opaque = true)
{
    host::Transform m =
        host::Transform::translate(at) * host::Transform::rotateY(turnY) * host::Transform::scale(scale);
    return {{"name", name},
            {"transform", m.rowMajor()},
            {"mesh", {{"obj", obj}}},
            {"alpha_coverage", !opaque},
            {"texture", std::move(texture)}};
}

}  // namespace

std::string buildDemoScene(const std::string& dir)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw host::HostError("cannot create the demo folder '" + dir + "': " + ec.message());

    ObjMesh panel = curvedPanel(), sphere = icosphere(), box = cube();
    host::writeObj(dir + "/panel.obj", panel);
    host::writeObj(dir + "/sphere.obj", sphere);
    host::writeObj(dir + "/cube.obj", box);

    bake::BakeOptions coarse;
    coarse.resLog2 = 4;  // few texels, so that the two filters' difference shows
    bake(panel, "checker", coarse, dir + "/panel-checker.ptx");
    bake::BakeOptions smooth;
    smooth.resLog2 = 4;
    smooth.type = bake::TexelType::half;
    bake(sphere, "noise", smooth, dir + "/sphere-noise.ptx");
    bake::BakeOptions withAlpha;
    withAlpha.resLog2 = 4;
    withAlpha.alpha = true;
    bake(box, "checker", withAlpha, dir + "/cube-alpha.ptx");

    using nlohmann::json;
    json scene = {
        {"renderer", {{"threads", 2}, {"frame_time", 0}, {"message_log", true}}},
        {"camera", {{"position", {0.0, 1.6, 6.2}}, {"look_at", {0.0, 0.55, 0.0}}, {"up", {0, 1, 0}}, {"fov_deg", 38}}},
        {"image", {{"width", 960}, {"height", 540}, {"spp", 4}}},
        {"background", {0.06, 0.07, 0.09}},
        {"light", {{"direction", {-0.4, -0.7, -0.6}}, {"ambient", 0.3}}},
        {"objects",
         {placed("panel-point", "panel.obj", 1.0, {-1.75, 0.0, 0.0}, 0,
                 {{"type", "TexPtex"}, {"ptex_file", "panel-checker.ptx"}, {"filter_type", 0}}),
          placed("panel-bicubic", "panel.obj", 1.0, {1.75, 0.0, 0.0}, 0,
                 {{"type", "TexPtex"}, {"ptex_file", "panel-checker.ptx"}, {"filter_type", 4}, {"sharpness", 0.5}}),
          placed("sphere", "sphere.obj", 0.55, {0.75, 0.55, 1.7}, 0,
                 {{"type", "TexPtex"}, {"ptex_file", "sphere-noise.ptx"}, {"filter_type", 1}}),
          placed("cube", "cube.obj", 0.8, {-0.7, 0.45, 1.6}, 30,
                 {{"type", "TexPtex"}, {"ptex_file", "cube-alpha.ptx"}, {"filter_type", 3}, {"alpha_type", 1}},
                 false)}}};
    std::string path = dir + "/demo.json";
    std::ofstream out(path);
    out << scene.dump(2) << '\n';
    if (!out) throw host::HostError("cannot write the demo scene '" + path + "'");
    return path;
}

}  // namespace tarsk::render
