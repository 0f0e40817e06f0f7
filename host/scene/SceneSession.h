// SceneSession: a scene brought to life in the host: the plug-in library loaded through the
// loader, one texture instance per scene object with the scene's parameters and mesh lists set,
// a hit object per object (world to mesh space), the renderer with its message log, and the
// render and frame lifecycle. tarsk-eval and tarsk-render drive textures only through it.
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

    HostMessageLog log;
    TUtils::TarskPluginHost pluginHost;
    std::unique_ptr<PluginLibrary> library;
    std::unique_ptr<TUtils::TarskRenderer> tarskRenderer;
    std::vector<Instance> objects;
    bool rendering = false;
    bool inFrame = false;
};

}  // namespace tarsk::host
