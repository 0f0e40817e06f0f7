// Fuzz target: the host programs' text inputs. The first byte picks the parser: a scene file
// (JSON through parseScene), a POINTS file, a point-request file or an OBJ file. Malformed input
// must end in a HostError (or a neutral result), never a crash, hang or other exception.
#include "HostError.h"
#include "ObjMesh.h"
#include "PointMaker.h"
#include "Scene.h"
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
    nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded()) return;
    tarsk::host::Scene scene = tarsk::host::parseScene(doc, "fuzz.json", scratchDir());
    for (const tarsk::host::SceneObject& object : scene.objects) {
        tarsk::host::MeshLists lists = object.meshAt(0.0);
        tarsk::host::findMeshListFault(lists);
    }
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
        switch (bytes[0] % 4) {
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
        default: parseObjText(text); break;
        }
    } catch (const tarsk::host::HostError&) {
        // The documented way to refuse input.
    }
    return 0;
}
