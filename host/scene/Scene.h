// Scene: what a scene file describes (renderer settings, objects with their transform, mesh lists
// and texture parameters, and the camera, image and light that tarsk-render adds), and its loader.
// Both tarsk-eval and tarsk-render read scenes through loadScene; every fault is a HostError whose
// message names the file and the JSON path of the offending value.
//
// The file, as JSON (every key optional unless said otherwise; relative paths are relative to it):
//   "renderer":   {"threads": N, "frame_time": T, "message_log": true}
//   "objects":    [ (required) {"name": ..., "transform": [16 numbers, row-major, object to world],
//                   "alpha_coverage": false,  // tarsk-render: the texture's alpha as coverage
//                   "opaque": true,           // older spelling: "opaque": false = coverage
//                   "shading_normals": true,  // tarsk-render: smooth shading normals
//                   "mesh": {"vertices": [[x,y,z],...], "origFaces": [...], "origFacesDegree": [...],
//                            "faces": [...]}  or  {"obj": "file.obj"}  (required),
//                   "texture": {"type": "TexPtex" (required), parameter name: value, ...}} ]
//   "camera":     {"position": [x,y,z], "look_at": [x,y,z], "up": [x,y,z], "fov_deg": degrees}
//   "image":      {"width": W, "height": H, "spp": N}
//   "background": [r, g, b]  (linear)
//   "light":      {"direction": [x,y,z] (travel direction; default: a headlight), "ambient": a}
//   "shading":    "lambert" | "unlit"
// Any texture parameter and mesh list may be keyed by time: {"keys": [[time, value], ...]}.
//
// tarsk-render draws every object opaque: the texture's alpha is only a value it answers (by
// default its luminance, see "alpha_type"). With "alpha_coverage": true the alpha becomes
// coverage: the ray goes on through the object and what lies behind shows where alpha is below 1.
// Shading normals are interpolated from per-vertex normals: an OBJ's "vn" where its faces name
// them, else area-weighted normals of the faces around each vertex that meet at less than a
// crease angle (so a cube keeps its edges); "shading_normals": false shades each triangle flat.
// Bounds (SceneJson.h): nesting at most 64 levels of arrays and objects, numbers within double
// range, no NUL in any text; counts have their lower bounds (threads, width, height, spp >= 1).
#pragma once

#include "Keyed.h"
#include "MeshLists.h"
#include "Transform.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tarsk::host {

// One texture parameter as the scene gives it: raw JSON values per key time. Its type is checked
// against the plug-in's registered parameter when it is set on an instance.
struct ParamSetting {
    std::string name;
    std::string jsonPath;  // e.g. "scene.json: objects[0].texture.filter_type"
    std::vector<std::pair<double, nlohmann::json>> keys;
};

struct SceneObject {
    std::string name;
    std::string jsonPath;  // "scene.json: objects[i]"
    Transform objectToWorld;
    Transform worldToObject;
    Keyed<std::vector<TUtils::Vector3f>> vertices;
    Keyed<std::vector<int32_t>> origFaces;
    Keyed<std::vector<int32_t>> origFacesDegree;
    Keyed<std::vector<int32_t>> faces;
    bool alphaCoverage = false;  // rendering: the texture's alpha is coverage (else coverage 1)
    bool shadingNormals = true;  // rendering: interpolated per-vertex normals (else flat)
    // The OBJ's "vn" normals, one per "origFaces" corner (zero where the corner names none);
    // empty for meshes given as lists and OBJ files without normals.
    std::vector<Vec3> cornerNormals;
    std::string textureType;  // "TexPtex"
    std::vector<ParamSetting> textureParams;

    MeshLists meshAt(double time) const;
};

struct Camera {
    Vec3 position{0, 0, 5};
    Vec3 lookAt{0, 0, 0};
    Vec3 up{0, 1, 0};
    double fovDeg = 40;
};

struct Scene {
    std::string path;     // the scene file as given
    std::string baseDir;  // folder that relative paths in the scene are relative to

    int threads = 1;
    double frameTime = 0;
    bool messageLog = true;
    std::vector<SceneObject> objects;

    // Rendering only; tarsk-eval accepts and ignores them.
    Camera camera;
    int width = 640;
    int height = 480;
    int spp = 1;
    Vec3 background{0.05, 0.05, 0.06};
    bool headlight = true;          // light from the camera when the scene gives no direction
    Vec3 lightDirection{0, 0, -1};  // direction the light travels
    double ambient = 0.15;
    bool unlit = false;

    const SceneObject* findObject(const std::string& name) const;
};

// Reads and checks a scene file. Throws HostError on malformed JSON (naming line and column),
// values outside the bounds above, unknown keys, wrong types, missing OBJ files and mesh lists
// that do not fit together.
Scene loadScene(const std::string& path);

// The same from an already parsed document (checked for the same bounds first); `label` prefixes
// messages, `baseDir` resolves paths.
Scene parseScene(const nlohmann::json& doc, const std::string& label, const std::string& baseDir);

// Joins a relative path onto `baseDir`; absolute paths are returned unchanged.
std::string resolvePath(const std::string& baseDir, const std::string& path);

}  // namespace tarsk::host
