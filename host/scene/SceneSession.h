// SceneSession: a scene brought to life in the host: the plug-in library loaded through the
// loader, one texture instance per scene object with the scene's parameters and mesh lists set,
// a hit object per object (world to mesh space), the renderer with its message log, and the
// render and frame lifecycle. tarsk-eval and tarsk-render drive textures only through it. The
// errors a texture reports during its lifecycle calls are kept as that object's texture faults,
// so a program can list them again at its end and refuse them under --strict.
#pragma once

#include "HostMessageLog.h"
#include "Scene.h"

#include <tarsk/TarskPluginHost.h>
#include <tarsk/TarskRenderer.h>

#include <memory>
#include <string>
#include <vector>

class PluginBase;
class PluginInstance;
class PluginLibrary;
class MatrixGeometryObject;

namespace TUtils {
class TarskPluginInterface;
class TextureInterface;
}  // namespace TUtils

namespace tarsk::host {

// Where tarsk_TexPtex.so sits relative to a program of the build tree (build/host/<tool>/).
std::string defaultPluginPath();

// An error a scene object's texture reported (a file that does not open, mesh lists it refuses):
// the object answers opaque white from then on, for that frame.
struct TextureFault {
    int object = -1;  // index into the scene's objects; -1 for an error reported while shading
    std::string message;
    double firstTime = 0;  // frame time of the first frame that reported it
    int frames = 0;        // frames (or lifecycle steps) that reported it
};

class SceneSession {
public:
    // Loads the plug-in and makes the instances. `numThreads` is the renderer's thread count.
    // Throws HostError for a library that cannot be loaded, an unknown texture type, and texture
    // parameters that are unknown or of the wrong type (naming their JSON path).
    SceneSession(const Scene& scene, const std::string& pluginPath, int numThreads, bool messageLog);
    SceneSession(const SceneSession&) = delete;
    SceneSession& operator=(const SceneSession&) = delete;
    // Ends a render still running, deletes every instance, then unloads the library.
    ~SceneSession();

    int numObjects() const { return static_cast<int>(objects.size()); }
    TUtils::TextureInterface* texture(int object) const { return objects[object].texture; }
    PluginBase* geometryObject(int object) const;
    TUtils::TarskRenderer& renderer() { return *tarskRenderer; }
    HostMessageLog& messageLog() { return log; }

    // False when the scene turns the renderer's message log off: then no fault can be seen.
    bool seesTextureFaults() const { return logging; }
    // Every fault so far, one per object and message, in the order they first came.
    const std::vector<TextureFault>& textureFaults() const { return faults; }
    // The faults as lines for a summary: object "name" (scene.json: objects[i]) at frame T: message.
    std::vector<std::string> textureFaultLines() const;

    void renderBegin();
    void frameBegin(double time);
    void frameEnd();
    void renderEnd();

private:
    struct Instance {
        std::unique_ptr<PluginInstance> plugin;
        TUtils::TarskPluginInterface* control = nullptr;
        TUtils::TextureInterface* texture = nullptr;
        std::unique_ptr<MatrixGeometryObject> geometry;
        const TUtils::TarskPluginHost::Entry* type = nullptr;
    };

    void setParameters(const SceneObject& object, Instance& instance);
    // Takes the errors reported since the last call and files them under `object`.
    void collectFaults(int object, double time);

    HostMessageLog log;
    TUtils::TarskPluginHost pluginHost;
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<TUtils::TarskRenderer> tarskRenderer;
    std::vector<Instance> objects;
    std::vector<std::string> objectLabels;  // object "name" (scene.json: objects[i])
    bool logging = false;
    std::vector<TextureFault> faults;
    double frameTime = 0;
    bool rendering = false;
    bool inFrame = false;
};

// What tarsk-eval and tarsk-render do with texture faults. The summary lists them again on stderr
// as "summary: " lines (nothing when there are none), so that one error among many messages is
// not missed; under --strict any fault ends the program with a HostError after that summary.
void printTextureFaultSummary(const SceneSession& session);
void refuseTextureFaults(const SceneSession& session);
// --strict needs the renderer's message log to see faults; throws HostError when the scene turns
// it off.
void checkStrictPossible(const Scene& scene);

}  // namespace tarsk::host
