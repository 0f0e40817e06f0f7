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
    if (std::fabs(denom) < 1e-300) return false;
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
        for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 16777619u;
    };
    mix(&hit.object, sizeof hit.object);
    mix(&hit.triangle, sizeof hit.triangle);
    mix(&hit.u, sizeof hit.u);
    mix(&hit.v, sizeof hit.v);
    return h == 0 ? 1u : h;  // key 0 marks an empty cache entry
}

// The context carries these values as 32-bit floats, and the POINTS rows must hold exactly what the
// texture saw. GCC 12 compiles C++ with "fast" excess precision, under which its vectorizer drops a
// double -> float -> double round trip; a volatile float forces the rounding.
double toFloatPrecision(double x)
{
    volatile float rounded = static_cast<float>(x);
    return rounded;
}

Vec3 roundToFloat(const Vec3& v) { return {toFloatPrecision(v.x), toFloatPrecision(v.y), toFloatPrecision(v.z)}; }

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
    const bool haveX = meetPlane(ray.origin, ray.direction + ray.dDirdx * differentialScale, hitPoint, n, offsetX);
    const bool haveY = meetPlane(ray.origin, ray.direction + ray.dDirdy * differentialScale, hitPoint, n, offsetY);
    p.dPdx = haveX ? roundToFloat(offsetX - hitPoint) : Vec3();
    p.dPdy = haveY ? roundToFloat(offsetY - hitPoint) : Vec3();
    p.correctionAxis = roundToFloat(host::normalize(n));
    if (correctHits) {
        // The exact hit in double precision against where the float weights put it; the texture
        // moves its weights by the difference.
        Vec3 exact;
        if (meetPlane(ray.origin, ray.direction, p.triOrigin, n, exact)) {
            // Where the texture puts the hit from the float weights: origin + wA edgeA + wB edgeB,
            // each operation rounded to float as the texture rounds it.
            float wA = hit.u, wB = hit.v;
            double ref[3];
            for (int a = 0; a < 3; ++a) {
                double alongA = toFloatPrecision(wA * p.triEdgeA[a]);
                double alongB = toFloatPrecision(wB * p.triEdgeB[a]);
                ref[a] = toFloatPrecision(toFloatPrecision(p.triOrigin[a] + alongA) + alongB);
            }
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
