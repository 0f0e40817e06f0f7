#include "DemoScene.h"

#include "DemoMeshes.h"
#include "DemoTextures.h"
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

    ObjMesh panel = demoPanel(), sphere = demoSphere(32, 16), torus = demoTorus(0.62, 0.24, 48, 20), box = demoCube();
    rotateAboutX(sphere, 28);
    rotateAboutX(torus, 62);
    host::writeObj(dir + "/panel.obj", panel);
    host::writeObj(dir + "/sphere.obj", sphere);
    host::writeObj(dir + "/torus.obj", torus);
    host::writeObj(dir + "/cube.obj", box);

    bake::BakeOptions panelTexels;  // about 5 pixels per texel, so that the point filter shows them
    panelTexels.resLog2 = 4;
    panelTexels.type = bake::TexelType::half;
    bake::bakePtex(panel, *ringsTexture(), panelTexels, dir + "/panel-rings.ptx");
    bake::BakeOptions sphereTexels;
    sphereTexels.resLog2 = 5;
    bake::bakePtex(sphere, *checkerTexture(0.25, 0.008), sphereTexels, dir + "/sphere-checker.ptx");
    bake::BakeOptions torusTexels;
    torusTexels.resLog2 = 4;
    torusTexels.type = bake::TexelType::half;
    bake::bakePtex(torus, *marbleTexture(), torusTexels, dir + "/torus-marble.ptx");
    bake::BakeOptions cubeTexels;
    cubeTexels.resLog2 = 7;
    cubeTexels.alpha = true;
    bake::bakePtex(box, *perforatedTexture(3, 0.3, 0.01), cubeTexels, dir + "/cube-perforated.ptx");

    using nlohmann::json;
    auto texture = [](const char* file, int filterType) {
        return json{{"type", "TexPtex"}, {"ptex_file", file}, {"filter_type", filterType}, {"cache_size", 16}};
    };
    json bicubic = texture("panel-rings.ptx", 4);
    bicubic["sharpness"] = 0.5;
    json perforated = texture("cube-perforated.ptx", 4);
    perforated["sharpness"] = 1.0;
    perforated["alpha_type"] = 1;  // alpha from the file's alpha channel
    json scene = {
        {"renderer", {{"threads", 2}, {"frame_time", 0}, {"message_log", true}}},
        {"camera", {{"position", {0.0, 2.1, 7.2}}, {"look_at", {0.0, 1.12, 0.0}}, {"up", {0, 1, 0}}, {"fov_deg", 35}}},
        {"image", {{"width", 1280}, {"height", 720}, {"spp", 4}}},
        {"background", {0.05, 0.055, 0.07}},
        {"light", {{"direction", {-0.45, -0.6, -0.65}}, {"ambient", 0.28}}},
        {"objects",
         {placed("panel-point", "panel.obj", 1.02, {-1.25, 0.92, -0.9}, 14, texture("panel-rings.ptx", 0)),
          placed("panel-bicubic", "panel.obj", 1.02, {1.25, 0.92, -0.9}, -14, bicubic),
          placed("cube", "cube.obj", 0.95, {-2.05, 0.5, 1.2}, 35, perforated, false),
          placed("sphere", "sphere.obj", 0.62, {0.0, 0.62, 1.5}, -20, texture("sphere-checker.ptx", 4)),
          placed("torus", "torus.obj", 0.95, {2.05, 0.58, 1.2}, -25, texture("torus-marble.ptx", 1))}}};
    std::string path = dir + "/demo.json";
    std::ofstream out(path);
    out << scene.dump(2) << '\n';
    if (!out) throw host::HostError("cannot write the demo scene '" + path + "'");
    return path;
}

std::vector<CaptionLine> demoCaptions()
{
    const host::Vec3 title(0.92, 0.92, 0.9), note(0.45, 0.47, 0.5);
    auto label = [&](const char* text, double x, double y, bool bold) {
        CaptionLine line;
        line.text = text;
        line.x = x;
        line.y = y;
        line.bold = bold;
        line.size = bold ? 0.03 : 0.024;
        line.colour = bold ? title : note;
        return line;
    };
    return {label("point filter", 0.355, 0.07, true),
            label("the texels as stored", 0.355, 0.105, false),
            label("bicubic filter", 0.645, 0.07, true),
            label("smooth across faces and n-gon sub-faces", 0.645, 0.105, false),
            label("alpha as coverage", 0.2, 0.925, true),
            label("cut-outs from a 4-channel file", 0.2, 0.96, false),
            label("seams that cannot be found", 0.5, 0.925, true),
            label("a fine checker over 640 faces and sub-faces", 0.5, 0.96, false),
            label("triangle-type file", 0.8, 0.925, true),
            label("1,920 triangles through the triangle filter", 0.8, 0.96, false)};
}

}  // namespace tarsk::render
