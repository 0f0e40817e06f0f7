// Renderer: renders frames of a scene through the texture instances of a SceneSession. Primary
// rays from the camera, tiles in parallel on oneTBB with one render-thread index per worker,
// every hit shaded through its object's texture, alpha taken as coverage for objects that ask for
// it (the ray continues and layers are composited front to back), then Lambert shading with the
// objects' shading normals, or unlit, over the background.
#pragma once

#include "Camera.h"
#include "ImageFile.h"
#include "Scene.h"
#include "SceneSession.h"
#include "ShadingPoint.h"

#include <tarsk/Color.h>

#include <cstdint>
#include <vector>

namespace tarsk::render {

struct RenderSettings {
    int width = 640;
    int height = 480;
    int spp = 1;
    int threads = 1;
    bool correctHits = false;
    bool progress = true;
    int dumpPoints = 0;  // shading points to record (first layer of the first sample of N pixels)
};

struct RenderStats {
    double seconds = 0;
    uint64_t rays = 0;
    uint64_t evaluations = 0;
    uint64_t cacheHits = 0;     // requests whose slot already held their key (the plug-in's cache hits)
    uint64_t cacheLookups = 0;  // requests that could use the cache
    double evalSeconds = 0;     // summed over threads: time spent inside evalColor
    void add(const RenderStats& o);
};

struct DumpedPoint {
    int x = 0, y = 0;
    int object = -1;  // -1: the pixel's first ray hit nothing
    host::ShadingPoint point;
    TUtils::Color color{0, 0, 0, 0};
};

// Renders one frame. The session's frame must have begun at `time` (the geometry's time too);
// `dump` receives settings.dumpPoints points when asked for.
bake::Image renderFrame(const host::Scene& scene, host::SceneSession& session, const RenderSettings& settings,
                        double time, RenderStats& stats, std::vector<DumpedPoint>* dump);

}  // namespace tarsk::render
