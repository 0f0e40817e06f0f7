// SceneGeometry: one Embree 3 BVH over all objects of a scene at one frame time, in world space,
// and the world-space triangles the hits refer to, with their shading normals. Rebuilt per frame
// so that keyed vertex lists animate the geometry the same way they animate the texture's topology.
#pragma once

#include "MeshLists.h"
#include "Scene.h"

#include <embree3/rtcore.h>

#include <vector>

namespace tarsk::render {

using host::Vec3;

struct Hit {
    int object = -1;     // scene object index, -1 for a miss
    int triangle = 0;    // render triangle (the plug-in's faceIndex)
    float u = 0, v = 0;  // Embree barycentrics: weights of edge A (v0->v1) and edge B (v0->v2)
    float t = 0;
    Vec3 normal;  // geometric normal, unnormalised, (v1 - v0) x (v2 - v0)
};

class SceneGeometry {
public:
    // Throws host::HostError when Embree cannot be set up or an object's lists are inconsistent.
    SceneGeometry(const host::Scene& scene, double time);
    SceneGeometry(const SceneGeometry&) = delete;
    SceneGeometry& operator=(const SceneGeometry&) = delete;
    ~SceneGeometry();

    // The nearest hit along origin + t * direction with t in (tNear, tFar).
    Hit intersect(const Vec3& origin, const Vec3& direction, float tNear, float tFar) const;
    const host::MeshLists& lists(int object) const { return objectLists[object]; }
    // The unit world-space normal to shade the hit with: interpolated from the triangle's corner
    // normals, or the geometric normal for objects shaded flat. Not oriented towards the ray.
    Vec3 shadingNormal(const Hit& hit) const;

private:
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
    std::vector<host::MeshLists> objectLists;
    std::vector<std::vector<Vec3>> objectNormals;  // world space, 3 per triangle; empty: flat
    std::vector<int> objectOfGeometry;
};

}  // namespace tarsk::render
