#include "PtexFileScene.h"

#include "HostError.h"
#include "MeshLists.h"
#include "PtexMetaMesh.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>

namespace tarsk::render {

using host::Vec3;
namespace fs = std::filesystem;

namespace {

struct FilterChoice {
    const char* name;
    int filterType;    // the texture's "filter_type": PtexFilter's filter numbering
    double sharpness;  // the texture's "sharpness", used by the general bicubic only
};

// "bicubic" is the general bicubic at sharpness 0.5, between the B-spline (0) and Mitchell (2/3).
constexpr std::array<FilterChoice, 8> kFilters = {{{"point", 0, 0.0},
                                                   {"bilinear", 1, 0.0},
                                                   {"box", 2, 0.0},
                                                   {"gaussian", 3, 0.0},
                                                   {"bicubic", 4, 0.5},
                                                   {"bspline", 5, 0.0},
                                                   {"catmullrom", 6, 0.0},
                                                   {"mitchell", 7, 0.0}}};

template <typename T>
host::Keyed<T> single(T value)
{
    host::Keyed<T> keyed;
    keyed.keys.emplace_back(0.0, std::move(value));
    return keyed;
}

host::ParamSetting setting(const std::string& label, const std::string& name, nlohmann::json value)
{
    host::ParamSetting s;
    s.name = name;
    s.jsonPath = label + ": texture." + name;
    s.keys.emplace_back(0.0, std::move(value));
    return s;
}

// A unit vector at right angles to `n`, leaning towards `towards` where it can.
Vec3 perpendicular(const Vec3& n, const Vec3& towards)
{
    Vec3 p = towards - n * host::dot(towards, n);
    if (host::length(p) < 1e-6) p = Vec3(1, 0, 0) - n * n.x;
    return host::normalize(p);
}

// Camera and light for the mesh, which fills the view.
void frame(const host::ObjMesh& mesh, host::Scene& scene)
{
    Vec3 lo(1e300, 1e300, 1e300), hi(-1e300, -1e300, -1e300);
    for (const Vec3& p : mesh.positions) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const Vec3 centre = (lo + hi) / 2;
    double radius = 0;
    for (const Vec3& p : mesh.positions) radius = std::max(radius, host::length(p - centre));
    if (!(radius > 0)) radius = 1;

    // The faces' summed area vectors: long against their summed areas for a mostly flat mesh,
    // short for a closed one.
    Vec3 facing;
    double area = 0;
    for (int f = 0; f < mesh.numFaces(); ++f) {
        Vec3 n;
        const int d = mesh.faceDegrees[f];
        for (int k = 0; k < d; ++k) {
            const Vec3& a = mesh.positions[mesh.cornerPositions[mesh.faceStarts[f] + k]];
            const Vec3& b = mesh.positions[mesh.cornerPositions[mesh.faceStarts[f] + (k + 1) % d]];
            n += Vec3((a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y));
        }
        facing += n;
        area += host::length(n);
    }
    const Vec3 threeQuarter = host::normalize(Vec3(0.55, 0.45, 0.7));
    Vec3 view = threeQuarter;  // from the centre towards the camera
    if (area > 0 && host::length(facing) > 0.6 * area) {
        const Vec3 front = host::normalize(facing);
        view = host::normalize(front + perpendicular(front, threeQuarter) * 0.35);
    }
    const Vec3 up = std::fabs(view.y) > 0.95 ? Vec3(0, 0, -1) : Vec3(0, 1, 0);

    // The nearest camera distance along `view` at which every vertex lies inside the view, with a
    // margin of 6% on each side.
    scene.camera.fovDeg = 35;
    const double tanVertical = 0.94 * std::tan(scene.camera.fovDeg * M_PI / 360);
    const double tanHorizontal = tanVertical * scene.width / scene.height;
    const Vec3 side = host::normalize(host::cross(view, up));
    const Vec3 screenUp = host::cross(side, view);
    double distance = 0;
    for (const Vec3& p : mesh.positions) {
        const Vec3 q = p - centre;
        const double towards = host::dot(q, view);
        distance = std::max({distance, towards + std::fabs(host::dot(q, side)) / tanHorizontal,
                             towards + std::fabs(host::dot(q, screenUp)) / tanVertical});
    }
    if (!(distance > 0)) distance = radius;
    scene.camera.position = centre + view * distance;
    scene.camera.lookAt = centre;
    scene.camera.up = up;
    // A key light from above and left of the camera.
    scene.lightDirection = -host::normalize(view + screenUp * 0.6 + side * 0.4);
    scene.headlight = false;
    scene.ambient = 0.25;
}

}  // namespace

bool isPtexFilePath(const std::string& path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".ptx";
}

const char* filterNames() { return "point, bilinear, box, gaussian, bicubic, bspline, catmullrom, mitchell"; }

host::Scene ptexFileScene(const std::string& ptexPath, const std::string& filterName)
{
    const FilterChoice* filter = nullptr;
    for (const FilterChoice& f : kFilters)
        if (filterName == f.name) filter = &f;
    if (!filter) throw host::HostError("unknown filter '" + filterName + "'; --filter takes one of " + filterNames());

    host::PtexMetaMesh stored = host::readPtexMetaMesh(ptexPath);
    host::MeshLists lists = host::meshListsFromObj(stored.mesh);
    std::string fault = host::findMeshListFault(lists);
    if (!fault.empty()) throw host::HostError(ptexPath + ": the mesh in its meta data is unusable: " + fault);

    host::Scene scene;
    scene.path = ptexPath;
    scene.baseDir = fs::path(ptexPath).parent_path().string();
    scene.threads = 1;
    scene.width = 960;
    scene.height = 720;
    scene.spp = 4;
    frame(stored.mesh, scene);

    host::SceneObject object;
    object.name = fs::path(ptexPath).stem().string();
    object.jsonPath = ptexPath;
    object.vertices = single(std::move(lists.vertices));
    object.origFaces = single(std::move(lists.origFaces));
    object.origFacesDegree = single(std::move(lists.origFacesDegree));
    object.faces = single(std::move(lists.faces));
    object.textureType = "TexPtex";
    object.textureParams.push_back(setting(ptexPath, "ptex_file", fs::absolute(ptexPath).string()));
    object.textureParams.push_back(setting(ptexPath, "filter_type", filter->filterType));
    if (filter->filterType == 4) object.textureParams.push_back(setting(ptexPath, "sharpness", filter->sharpness));
    // Room for the whole file's texels, so that a large file is not read again for every tile.
    object.textureParams.push_back(setting(ptexPath, "cache_size", 256));
    scene.objects.push_back(std::move(object));
    return scene;
}

}  // namespace tarsk::render
