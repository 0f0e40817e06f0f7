#include "HitShading.h"

#include "PointMaker.h"

#include <cmath>
#include <cstring>

namespace tarsk::render {

using host::Vec3;

namespace {

// Where the ray origin + s * direction meets the plane through `point` with normal `n`.
bool meetPlane(const Vec3& origin, const Vec3& direction, const Vec3& point, const Vec3& n, Vec3& at)
{
    double denom = host::dot(n, direction);
    if (std::fabs(denom) < 1e-300)
        return false;
    double s = host::dot(n, point - origin) / denom;
    at = origin + direction * s;
    return std::isfinite(at.x) && std::isfinite(at.y) && std::isfinite(at.z);
}

uint32_t hitKey(const Hit& hit)
{
    // FNV-1a over the exact hit: the same object, triangle and barycentric bits are the same point.
    uint32_t h = 2166136261u;
    auto mix = [&h](const void* data, size_t size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i)
            h = (h ^ bytes[i]) * 16777619u;
    };
    mix(&hit.object, sizeof hit.object);
    mix(&hit.triangle, sizeof hit.triangle);
    mix(&hit.u, sizeof hit.u);
    mix(&hit.v, sizeof hit.v);
    return h == 0 ? 1u : h;   // key 0 marks an empty cache entry
}

Vec3 roundToFloat(const Vec3& v)
{
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

}  // namespace

bool shadingPointForHit(const SceneGeometry& geometry, const host::Transform& objectToWorld, const CameraRay& ray,
                        double differentialScale, const Hit& hit, bool correctHits, host::ShadingPoint& p)
{
    if (!host::worldTriangle(geometry.lists(hit.object), objectToWorld, hit.triangle, p.triOrigin, p.triEdgeA,
                             p.triEdgeB))
        return false;
    // The context carries floats; keep exactly what the texture will see.
    p.triOrigin = roundToFloat(p.triOrigin);
    p.triEdgeA = roundToFloat(p.triEdgeA);
    p.triEdgeB = roundToFloat(p.triEdgeB);
    p.faceIndex = hit.triangle;
    p.weightA = hit.u;
    p.weightB = hit.v;
    p.flags = 0;
    p.cacheKey = hitKey(hit);
    p.cacheSlot = static_cast<int32_t>(p.cacheKey % kCacheSlots);

    Vec3 n = host::cross(p.triEdgeA, p.triEdgeB);
    Vec3 hitPoint = p.triOrigin + p.triEdgeA * static_cast<double>(hit.u) + p.triEdgeB * static_cast<double>(hit.v);
    Vec3 offsetX, offsetY;
    p.dPdx = meetPlane(ray.origin, ray.direction + ray.dDirdx * differentialScale, hitPoint, n, offsetX)
                 ? roundToFloat(offsetX - hitPoint)
                 : Vec3();
    p.dPdy = meetPlane(ray.origin, ray.direction + ray.dDirdy * differentialScale, hitPoint, n, offsetY)
                 ? roundToFloat(offsetY - hitPoint)
                 : Vec3();
    p.correctionAxis = roundToFloat(host::normalize(n));
    if (correctHits) {
        // The exact hit in double precision against where the float weights put it; the texture
        // moves its weights by the difference.
        Vec3 exact;
        if (meetPlane(ray.origin, ray.direction, p.triOrigin, n, exact)) {
            float wA = hit.u, wB = hit.v;
            float ref[3];
            for (int a = 0; a < 3; ++a)
                ref[a] = static_cast<float>(p.triOrigin[a]) + wA * static_cast<float>(p.triEdgeA[a]) +
                         wB * static_cast<float>(p.triEdgeB[a]);
            p.hitPoint = exact;
            p.hitReference = {ref[0], ref[1], ref[2]};
            p.flags |= host::kCorrectHitFlag;
        }
    } else {
        p.hitPoint = hitPoint;
        p.hitReference = hitPoint;
    }
    return true;
}

}  // namespace tarsk::render
