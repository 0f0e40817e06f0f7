// Fuzz target: the host programs' text inputs. The first byte picks the parser: a scene file
// (JSON through the scene loader's reader and parseScene), a POINTS file, a point-request file,
// an OBJ file, or a scene whose input sits at a chosen place under up to 200,000 levels of nested
// arrays and objects (deeper than libFuzzer's inputs reach by themselves). Malformed input must
// end in a HostError (or a neutral result), never a crash, hang or other exception.
#include "HostError.h"
#include "ObjMesh.h"
#include "PointMaker.h"
#include "Scene.h"
#include "SceneJson.h"
#include "ShadingPoint.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string& scratchDir()
{
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        return std::string(base && *base ? base : "/tmp");
    }();
    return dir;
}

// Scene files name OBJ files by path; device and process files could block or never end, which
// is the operating system's behaviour and not a parser fault.
bool namesSpecialFiles(const std::string& text)
{
    return text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos ||
           text.find("/sys") != std::string::npos;
}

void parseSceneText(const std::string& text)
{
    if (namesSpecialFiles(text)) return;
    nlohmann::json doc = tarsk::host::parseSceneJson(text, "fuzz.json");
    tarsk::host::Scene scene = tarsk::host::parseScene(doc, "fuzz.json", scratchDir());
    for (const tarsk::host::SceneObject& object : scene.objects) {
        tarsk::host::MeshLists lists = object.meshAt(0.0);
        tarsk::host::findMeshListFault(lists);
    }
}

// Bytes 0-1: nesting depth / 3; byte 2: where the nesting sits (a texture parameter, a mesh
// list, the top level) and whether it is made of arrays or objects; the rest goes innermost.
void parseDeepSceneText(const std::string& text)
{
    if (text.size() < 3) return;
    const size_t depth = 3 * ((static_cast<unsigned char>(text[0]) << 8) | static_cast<unsigned char>(text[1]));
    const auto shape = static_cast<unsigned char>(text[2]);
    const std::string inner = text.substr(3);
    static const char* const kPlaces[][2] = {
        {R"({"objects": [{"mesh": {"vertices": [[0,0,0],[1,0,0],[0,1,0]], "origFaces": [0,1,2], )"
         R"("origFacesDegree": [3], "faces": [0,1,2]}, "texture": {"type": "TexPtex", "width": )",
         "}}]}"},
        {R"({"objects": [{"texture": {"type": "TexPtex"}, "mesh": {"vertices": [[0,0,0]], "faces": )", "}}]}"},
        {"", ""},
    };
    const auto& place = kPlaces[shape % 3];
    const bool objects = (shape / 3) % 2 == 1;
    std::string doc = place[0];
    doc.reserve(doc.size() + depth * 6 + inner.size() + 32);
    for (size_t i = 0; i < depth; ++i) doc += objects ? "{\"k\": " : "[";
    doc += inner.empty() ? "0" : inner;
    for (size_t i = 0; i < depth; ++i) doc += objects ? '}' : ']';
    doc += place[1];
    parseSceneText(doc);
}

void parseObjText(const std::string& text)
{
    const std::string path = scratchDir() + "/tarsk-scene-fuzz-" + std::to_string(getpid()) + ".obj";
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    tarsk::host::ObjMesh mesh = tarsk::host::readObj(path);
    std::remove(path.c_str());
    tarsk::host::MeshLists lists = tarsk::host::meshListsFromObj(mesh);
    tarsk::host::findMeshListFault(lists);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(bytes) + 1, size - 1);
    try {
        switch (bytes[0] % 5) {
        case 0: parseSceneText(text); break;
        case 1: {
            std::istringstream in(text);
            tarsk::host::readPoints(in, "fuzz.points");
            break;
        }
        case 2: {
            std::istringstream in(text);
            tarsk::host::readPointRequests(in, "fuzz.requests");
            break;
        }
        case 3: parseObjText(text); break;
        default: parseDeepSceneText(text); break;
        }
    } catch (const tarsk::host::HostError&) {
        // The documented way to refuse input.
    }
    return 0;
}
