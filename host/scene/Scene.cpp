#include "Scene.h"

#include "HostError.h"
#include "ObjMesh.h"
#include "SceneJson.h"
#include "ShortText.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace tarsk::host {

using nlohmann::json;

namespace {

// A JSON value with its path, so every complaint can say where it is.
class Node {
public:
    Node(const json& value, std::string path, const std::string& label) : v(value), p(std::move(path)), label(label) {}

    const json& value() const { return v; }
    const std::string& path() const { return p; }
    // "<file>: <path>", how messages name this value.
    std::string where() const { return label + ": " + p; }

    [[noreturn]] void fail(const std::string& what) const
    {
        throw HostError(label + ": " + (p.empty() ? std::string("(top level)") : p) + ": " + what);
    }

    // The value shortened for a message; never the whole of a long list.
    std::string describe() const { return describeJson(v); }

    Node field(const std::string& key) const { return Node(v.at(key), joinKey(p, key), label); }
    Node element(size_t i) const { return Node(v.at(i), joinIndex(p, i), label); }
    bool has(const std::string& key) const { return v.contains(key); }

    void requireObject(const std::set<std::string>& allowed) const
    {
        if (!v.is_object()) fail("expected an object, got " + describe());
        for (auto it = v.begin(); it != v.end(); ++it)
            if (!allowed.count(it.key())) field(it.key()).fail("unknown key");
    }
    size_t arraySize() const
    {
        if (!v.is_array()) fail("expected an array, got " + describe());
        return v.size();
    }
    // The size of a list that reaches the plug-in, whose list handles count in 32 bits.
    size_t listSize() const
    {
        size_t n = arraySize();
        if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
            fail("a list of " + std::to_string(n) + " elements is longer than a mesh list can be");
        return n;
    }
    double number() const
    {
        if (!v.is_number()) fail("expected a number, got " + describe());
        double d = v.get<double>();
        if (!std::isfinite(d)) fail("expected a finite number");
        return d;
    }
    int32_t integer(int64_t lo = std::numeric_limits<int32_t>::min(),
                    int64_t hi = std::numeric_limits<int32_t>::max()) const
    {
        if (!v.is_number_integer()) fail("expected an integer, got " + describe());
        // The parser stores every integer >= 0 as unsigned, so both bounds apply to both kinds.
        const bool outside = v.is_number_unsigned() ? v.get<uint64_t>() > static_cast<uint64_t>(hi) ||
                                                          (lo > 0 && v.get<uint64_t>() < static_cast<uint64_t>(lo))
                                                    : v.get<int64_t>() < lo || v.get<int64_t>() > hi;
        if (outside)
            fail("integer " + v.dump() + " is outside [" + std::to_string(lo) + ", " + std::to_string(hi) + "]");
        return static_cast<int32_t>(v.get<int64_t>());
    }
    bool boolean() const
    {
        if (!v.is_boolean()) fail("expected true or false, got " + describe());
        return v.get<bool>();
    }
    std::string string() const
    {
        if (!v.is_string()) fail("expected a string, got " + describe());
        return v.get<std::string>();
    }
    Vec3 vec3() const
    {
        if (arraySize() != 3) fail("expected an array of 3 numbers, got " + describe());
        return {element(0).number(), element(1).number(), element(2).number()};
    }

private:
    const json& v;
    std::string p;
    const std::string& label;
};

// Calls `one(node, time)` for a plain value or for each key of {"keys": [[time, value], ...]}.
template <typename F>
void forEachKey(const Node& node, F one)
{
    if (node.value().is_object() && node.has("keys")) {
        node.requireObject({"keys"});
        Node keys = node.field("keys");
        size_t n = keys.arraySize();
        if (n == 0) keys.fail("expected at least one [time, value] key");
        std::set<double> seen;
        for (size_t i = 0; i < n; ++i) {
            Node key = keys.element(i);
            if (key.arraySize() != 2) key.fail("expected [time, value], got " + key.describe());
            double time = key.element(0).number();
            if (!seen.insert(time).second)
                key.element(0).fail("time " + key.element(0).value().dump() + " is keyed twice");
            one(key.element(1), time);
        }
    } else {
        one(node, 0.0);
    }
}

template <typename T>
void sortKeys(Keyed<T>& keyed)
{
    std::stable_sort(keyed.keys.begin(), keyed.keys.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

Keyed<std::vector<int32_t>> readIntList(const Node& node)
{
    Keyed<std::vector<int32_t>> keyed;
    forEachKey(node, [&](const Node& value, double time) {
        std::vector<int32_t> list;
        size_t n = value.listSize();
        list.reserve(n);
        for (size_t i = 0; i < n; ++i) list.push_back(value.element(i).integer());
        keyed.keys.emplace_back(time, std::move(list));
    });
    sortKeys(keyed);
    return keyed;
}

Keyed<std::vector<TUtils::Vector3f>> readVectorList(const Node& node)
{
    Keyed<std::vector<TUtils::Vector3f>> keyed;
    forEachKey(node, [&](const Node& value, double time) {
        std::vector<TUtils::Vector3f> list;
        size_t n = value.listSize();
        list.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            Vec3 p = value.element(i).vec3();
            list.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
        }
        keyed.keys.emplace_back(time, std::move(list));
    });
    sortKeys(keyed);
    return keyed;
}

template <typename T>
Keyed<T> single(T value)
{
    Keyed<T> keyed;
    keyed.keys.emplace_back(0.0, std::move(value));
    return keyed;
}

void readMesh(const Node& mesh, SceneObject& object, const std::string& baseDir)
{
    if (mesh.value().is_object() && mesh.has("obj")) {
        mesh.requireObject({"obj"});
        std::string objPath = resolvePath(baseDir, mesh.field("obj").string());
        ObjMesh obj;
        try {
            obj = readObj(objPath);
        } catch (const HostError& e) {
            mesh.field("obj").fail(e.what());
        }
        MeshLists lists = meshListsFromObj(obj);
        if (obj.hasNormals()) {
            object.cornerNormals.assign(obj.cornerPositions.size(), Vec3());
            for (size_t c = 0; c < obj.cornerNormals.size(); ++c)
                if (obj.cornerNormals[c] >= 0) object.cornerNormals[c] = obj.normals[obj.cornerNormals[c]];
        }
        object.vertices = single(std::move(lists.vertices));
        object.origFaces = single(std::move(lists.origFaces));
        object.origFacesDegree = single(std::move(lists.origFacesDegree));
        object.faces = single(std::move(lists.faces));
        return;
    }
    mesh.requireObject({"vertices", "origFaces", "origFacesDegree", "faces"});
    for (const char* name : {"vertices", "origFaces", "origFacesDegree", "faces"})
        if (!mesh.has(name)) mesh.fail(std::string("missing \"") + name + "\" (or give {\"obj\": \"file.obj\"})");
    object.vertices = readVectorList(mesh.field("vertices"));
    object.origFaces = readIntList(mesh.field("origFaces"));
    object.origFacesDegree = readIntList(mesh.field("origFacesDegree"));
    object.faces = readIntList(mesh.field("faces"));
}

// All key times of the four lists, so the lists can be checked at every time they change.
std::set<double> meshKeyTimes(const SceneObject& o)
{
    std::set<double> times;
    for (const auto& k : o.vertices.keys) times.insert(k.first);
    for (const auto* list : {&o.origFaces, &o.origFacesDegree, &o.faces})
        for (const auto& k : list->keys) times.insert(k.first);
    return times;
}

SceneObject readObject(const Node& node, size_t index, const std::string& baseDir)
{
    node.requireObject({"name", "transform", "mesh", "texture", "alpha_coverage", "opaque", "shading_normals"});
    SceneObject object;
    object.jsonPath = node.where();
    object.name = node.has("name") ? node.field("name").string() : "object" + std::to_string(index);
    if (node.has("transform")) {
        Node t = node.field("transform");
        if (t.arraySize() != 16) t.fail("expected 16 numbers (row-major, object to world), got " + t.describe());
        std::array<double, 16> m;
        for (size_t i = 0; i < 16; ++i) m[i] = t.element(i).number();
        object.objectToWorld = Transform(m);
        auto inverse = object.objectToWorld.inverse();
        if (!inverse) t.fail("the matrix cannot be inverted");
        object.worldToObject = *inverse;
    }
    // "opaque" is the older spelling of the same choice: "opaque": false asks for coverage.
    if (node.has("opaque")) object.alphaCoverage = !node.field("opaque").boolean();
    if (node.has("alpha_coverage")) {
        object.alphaCoverage = node.field("alpha_coverage").boolean();
        if (node.has("opaque") && node.field("opaque").boolean() == object.alphaCoverage)
            node.fail("\"alpha_coverage\" and \"opaque\" contradict each other; give one of them");
    }
    if (node.has("shading_normals")) object.shadingNormals = node.field("shading_normals").boolean();
    if (!node.has("mesh")) node.fail("missing \"mesh\"");
    readMesh(node.field("mesh"), object, baseDir);
    if (!node.has("texture")) node.fail("missing \"texture\"");
    Node texture = node.field("texture");
    if (!texture.value().is_object()) texture.fail("expected an object, got " + texture.describe());
    if (!texture.has("type")) texture.fail("missing \"type\" (e.g. \"TexPtex\")");
    object.textureType = texture.field("type").string();
    for (auto it = texture.value().begin(); it != texture.value().end(); ++it) {
        if (it.key() == "type") continue;
        Node param = texture.field(it.key());
        ParamSetting setting;
        setting.name = it.key();
        setting.jsonPath = param.where();
        forEachKey(param, [&](const Node& value, double time) {
            if (value.value().is_string() && setting.name.size() > 5 &&
                setting.name.compare(setting.name.size() - 5, 5, "_file") == 0)
                setting.keys.emplace_back(time, json(resolvePath(baseDir, value.value().get<std::string>())));
            else
                setting.keys.emplace_back(time, value.value());
        });
        std::stable_sort(setting.keys.begin(), setting.keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        object.textureParams.push_back(std::move(setting));
    }
    return object;
}

}  // namespace

MeshLists SceneObject::meshAt(double time) const
{
    return {vertices.at(time), origFaces.at(time), origFacesDegree.at(time), faces.at(time)};
}

const SceneObject* Scene::findObject(const std::string& name) const
{
    for (const SceneObject& o : objects)
        if (o.name == name) return &o;
    return nullptr;
}

std::string resolvePath(const std::string& baseDir, const std::string& path)
{
    if (path.empty() || path[0] == '/' || baseDir.empty()) return path;
    return (std::filesystem::path(baseDir) / path).lexically_normal().string();
}

Scene parseScene(const json& doc, const std::string& label, const std::string& baseDir)
{
    checkSceneDocument(doc, label);
    Scene scene;
    scene.path = label;
    scene.baseDir = baseDir;
    Node top(doc, "", label);
    top.requireObject({"renderer", "objects", "camera", "image", "background", "light", "shading"});

    if (top.has("renderer")) {
        Node r = top.field("renderer");
        r.requireObject({"threads", "frame_time", "message_log"});
        if (r.has("threads")) scene.threads = r.field("threads").integer(1, 1024);
        if (r.has("frame_time")) scene.frameTime = r.field("frame_time").number();
        if (r.has("message_log")) scene.messageLog = r.field("message_log").boolean();
    }
    if (!top.has("objects")) top.fail("missing \"objects\"");
    Node objects = top.field("objects");
    size_t n = objects.arraySize();
    for (size_t i = 0; i < n; ++i) {
        scene.objects.push_back(readObject(objects.element(i), i, baseDir));
        for (size_t j = 0; j < i; ++j)
            if (scene.objects[j].name == scene.objects[i].name)
                objects.element(i).field("name").fail("name \"" + shortText(scene.objects[i].name) +
                                                      "\" is used twice");
    }
    for (size_t i = 0; i < n; ++i)
        for (double time : meshKeyTimes(scene.objects[i])) {
            std::string fault = findMeshListFault(scene.objects[i].meshAt(time));
            if (!fault.empty()) objects.element(i).field("mesh").fail(fault);
        }

    if (top.has("camera")) {
        Node c = top.field("camera");
        c.requireObject({"position", "look_at", "up", "fov_deg"});
        if (c.has("position")) scene.camera.position = c.field("position").vec3();
        if (c.has("look_at")) scene.camera.lookAt = c.field("look_at").vec3();
        if (c.has("up")) scene.camera.up = c.field("up").vec3();
        if (c.has("fov_deg")) {
            scene.camera.fovDeg = c.field("fov_deg").number();
            if (scene.camera.fovDeg <= 0 || scene.camera.fovDeg >= 180)
                c.field("fov_deg").fail("expected an angle between 0 and 180 degrees");
        }
        if (length(scene.camera.lookAt - scene.camera.position) == 0) c.fail("\"position\" and \"look_at\" coincide");
        if (length(cross(scene.camera.lookAt - scene.camera.position, scene.camera.up)) == 0)
            c.fail("\"up\" is parallel to the viewing direction");
    }
    if (top.has("image")) {
        Node im = top.field("image");
        im.requireObject({"width", "height", "spp"});
        if (im.has("width")) scene.width = im.field("width").integer(1, 16384);
        if (im.has("height")) scene.height = im.field("height").integer(1, 16384);
        if (im.has("spp")) scene.spp = im.field("spp").integer(1, 4096);
    }
    if (top.has("background")) scene.background = top.field("background").vec3();
    if (top.has("light")) {
        Node l = top.field("light");
        l.requireObject({"direction", "ambient"});
        if (l.has("direction")) {
            scene.lightDirection = l.field("direction").vec3();
            if (length(scene.lightDirection) == 0) l.field("direction").fail("the direction must not be zero");
            scene.lightDirection = normalize(scene.lightDirection);
            scene.headlight = false;
        }
        if (l.has("ambient")) scene.ambient = l.field("ambient").number();
    }
    if (top.has("shading")) {
        std::string shading = top.field("shading").string();
        if (shading != "unlit" && shading != "lambert")
            top.field("shading").fail("expected \"unlit\" or \"lambert\", got \"" + shortText(shading) + "\"");
        scene.unlit = shading == "unlit";
    }
    return scene;
}

Scene loadScene(const std::string& path)
{
    if (std::filesystem::is_directory(path)) throw HostError("scene file '" + path + "' is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw HostError("cannot open scene file '" + path + "'");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw HostError("error while reading scene file '" + path + "'");
    const json doc = parseSceneJson(text.str(), path);
    std::string baseDir = std::filesystem::path(path).parent_path().string();
    if (baseDir.empty()) baseDir = ".";
    return parseScene(doc, path, baseDir);
}

}  // namespace tarsk::host
