// HitShading: the shading context a ray tracer fills for a hit: the hit triangle's world-space
// corner and edges with the barycentric weights, pixel differentials from the camera's ray
// differentials met with the triangle's plane, a result-cache slot and key that identify the
// exact hit, and (optionally) the hit recomputed in double precision for the weight correction.
#pragma once

#include "Camera.h"
#include "SceneGeometry.h"
#include "ShadingPoint.h"

namespace tarsk::render {

// Slots per render thread that the host spreads its cache keys over.
constexpr int kCacheSlots = 1024;

// False when the hit's triangle cannot be formed (never for hits of a valid SceneGeometry).
bool shadingPointForHit(const SceneGeometry& geometry, const host::Transform& objectToWorld, const CameraRay& ray,
                        double differentialScale, const Hit& hit, bool correctHits, host::ShadingPoint& point);

}  // namespace tarsk::render
