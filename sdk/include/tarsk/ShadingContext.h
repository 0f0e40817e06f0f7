// ShadingContext: the host's description of one shading point, filled by the renderer (or a test
// host) and handed to TextureInterface::evalColor. Render threads each own a ShadingThread record
// that all their contexts point to.
#pragma once

#include <tarsk/ListRef.h>

#include <cstdint>

class PluginBase;

namespace TUtils {

struct Vector3d {
    double x, y, z;
};

// Per-render-thread record; the render-thread index is its second 32-bit integer.
struct ShadingThread {
    int32_t threadId = 0;     // the host's own id of the thread (not used by plug-ins)
    int32_t threadIndex = 0;  // 0 .. numThreads - 1
};

struct ShadingContext {
    // The edge weights need correcting before use; result caches are bypassed.
    static constexpr uint32_t correctHitFlag = 0x400000u;

    // The render-thread index, or -1 when the context has no thread record.
    int32_t threadIndex() const noexcept { return thread ? thread->threadIndex : -1; }

    const ShadingThread* thread = nullptr;
    uint32_t flags = 0;
    int32_t cacheSlot = 0;
    uint32_t cacheKey = 0;
    PluginBase* geometryObject = nullptr;  // offers GeometryTransform (interface 2006012001)
    Vector3d hitPoint{0, 0, 0};
    Vector3d hitReference{0, 0, 0};
    Vector3f correctionAxis{0, 0, 0};
    int32_t faceIndex = 0;           // the render triangle that was hit
    float weightA = 0, weightB = 0;  // weights of triEdgeA and triEdgeB at the hit
    Vector3f triOrigin{0, 0, 0};
    Vector3f triEdgeA{0, 0, 0};
    Vector3f triEdgeB{0, 0, 0};
    Vector3f dPdx{0, 0, 0};
    Vector3f dPdy{0, 0, 0};
};

}  // namespace TUtils
