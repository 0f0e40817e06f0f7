// TexPtex::evalColor: one shading point from the host's hit description to the returned colour.
#include "ColorResolve.h"
#include "FaceLocation.h"
#include "ShadingGeometry.h"
#include "TexPtex.h"

#include <tarsk/GeometryTransform.h>
#include <tarsk/PluginBase.h>
#include <tarsk/ShadingContext.h>

#include <algorithm>
#include <cmath>

using TUtils::Color;
using TUtils::GeometryTransform;
using TUtils::ShadingContext;

namespace {

constexpr Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};

Vec3f fromHost(const TUtils::Vector3f& v) noexcept { return {v.x, v.y, v.z}; }
TUtils::Vector3f toHost(Vec3f v) noexcept { return {v.x, v.y, v.z}; }

// The hit object's map into the space of the mesh lists. A missing hit object, or one without
// the interface, is taken to be in mesh space already (the identity).
GeometryTransform* transformOf(const ShadingContext& context) noexcept
{
    if (!context.geometryObject) return nullptr;
    return static_cast<GeometryTransform*>(context.geometryObject->getInterface(GeometryTransform::kInterfaceId));
}

// The edge weights, corrected when the host asks for it: the offset hitPoint - hitReference is
// written in the frame (triEdgeA, triEdgeB, correctionAxis) and its first two coordinates added.
void hitWeights(const ShadingContext& context, float& wA, float& wB) noexcept
{
    wA = context.weightA;
    wB = context.weightB;
    if (!(context.flags & ShadingContext::correctHitFlag)) return;
    const float d[3] = {static_cast<float>(context.hitPoint.x - context.hitReference.x),
                        static_cast<float>(context.hitPoint.y - context.hitReference.y),
                        static_cast<float>(context.hitPoint.z - context.hitReference.z)};
    float m[9] = {context.triEdgeA.x,       context.triEdgeA.y,       context.triEdgeA.z,
                  context.triEdgeB.x,       context.triEdgeB.y,       context.triEdgeB.z,
                  context.correctionAxis.x, context.correctionAxis.y, context.correctionAxis.z};
    invert3(m);  // a singular frame gives zeros, so no correction
    // d as a row vector times the inverse: its coordinates along the three rows.
    wA += d[0] * m[0] + d[1] * m[3] + d[2] * m[6];
    wB += d[0] * m[1] + d[1] * m[4] + d[2] * m[7];
}

// Face-local widths of a pixel differential: mapped to mesh space, then through the face map,
// which projects it onto the face's plane. A differential that gives no finite width contributes
// none, so the filter never sees a non-finite width. Inlined: it runs twice per shading point.
__attribute__((always_inline)) inline void widthOnFace(const ShadingContext& context, GeometryTransform* transform,
                                                       const TUtils::Vector3f& differential, const FaceMap& map,
                                                       float& uw, float& vw) noexcept
{
    const Vec3f v = transform ? fromHost(transform->transformVector(context, differential)) : fromHost(differential);
    faceWidth(map, v, uw, vw);
    if (!std::isfinite(uw) || !std::isfinite(vw)) uw = vw = 0.0f;
}

// The renderer is never handed a non-finite colour: a channel that the filter left infinite or
// NaN (a float file storing them, or an overflow in the kernel) reads as 0, and so does a
// component that the colour conversion overflows. Kept out of line: it runs only after a
// non-finite colour came out.
__attribute__((noinline)) Color finiteColor(float* channelValues, int32_t numChannels, const ColorPlan& plan) noexcept
{
    for (int32_t i = 0; i < numChannels; ++i)
        if (!std::isfinite(channelValues[i])) channelValues[i] = 0.0f;
    Color result = resolveColor(channelValues, plan);
    for (float* component : {&result.r, &result.g, &result.b, &result.a})
        if (!std::isfinite(*component)) *component = 0.0f;
    return result;
}

// True when every component is finite; may also answer false for finite components whose sum
// overflows, which only sends the colour through finiteColor, which keeps it.
inline bool isFinite(const Color& c) noexcept
{
    const float sum = (c.r + c.g) + (c.b + c.a);
    return (sum - sum) == 0.0f;
}

}  // namespace

Color TexPtex::evalColor(ShadingContext& context)
{
    try {
        if (!ready) return kWhite;
        // Filters exist exactly for the thread indices of the frame; anything else is the host's
        // fault and gets the neutral answer rather than a read past the arrays.
        const int32_t thread = context.threadIndex();
        if (thread < 0 || thread >= numFilters) return kWhite;

        // The cache is bypassed for corrected hits, for key 0 (which would match empty entries)
        // and for slots outside what a cache may hold.
        ResultCache* cache = nullptr;
        const int32_t slot = context.cacheSlot;
        const uint32_t key = context.cacheKey;
        if (!(context.flags & ShadingContext::correctHitFlag) && thread < numThreadCaches && key != 0 && slot >= 0 &&
            slot < ResultCache::kMaxSlot)
            cache = threadCaches[thread].get();
        if (cache) {
            if (const Color* stored = cache->find(slot, key)) return *stored;
        }

        float wA, wB;
        hitWeights(context, wA, wB);
        const Vec3f hit =
            fromHost(context.triOrigin) + fromHost(context.triEdgeA) * wA + fromHost(context.triEdgeB) * wB;
        GeometryTransform* transform = transformOf(context);
        const Vec3f q = transform ? fromHost(transform->transformPoint(context, toHost(hit))) : hit;

        // Non-finite hit data have no place on the face.
        if (!isFinite(q)) return kWhite;

        // The triangle's map from the frame's table (which has exactly the mesh's triangles), or
        // made here when the mesh has no table; both give the same map. An n-gon's sub-face, and
        // with it the map, follows the hit.
        const int32_t t = context.faceIndex;
        if (t < 0) return kWhite;
        FaceMap located;
        const FaceMap* map;
        if (t < frameTable.size()) {
            map = &frameTable.entries()[t];
        } else {
            if (t >= mesh->numTriangles) return kWhite;
            located = triangleFaceMap(polyMesh, triMesh, faces, numFaceIndices, t);
            map = &located;
        }
        if (map->faceId < 0) {
            // A frame degenerate in all three axis pairs (a zero-area face or sub-face) has no
            // coordinates and gets the neutral answer.
            if (map->faceId != FaceMap::kSubFaceSearch || !subFaceMap(*polyMesh, t, q, frameTable.subFaces(), located))
                return kWhite;
            map = &located;
        }
        float u, v;
        faceUv(*map, q, u, v);
        // So has a hit so far away that its coordinates overflow.
        if (!std::isfinite(u) || !std::isfinite(v)) return kWhite;

        float uw1 = 0.0f, vw1 = 0.0f, uw2 = 0.0f, vw2 = 0.0f;
        if (filter_type != 0) {
            widthOnFace(context, transform, context.dPdx, *map, uw1, vw1);
            widthOnFace(context, transform, context.dPdy, *map, uw2, vw2);
        }

        // Zero-filled first, so that a face id the filter writes nothing for gives defined values.
        float channelValues[kMaxChannels];
        if (numChannels <= 4) {
            // The common layouts (grey, RGB, RGBA) take four stores, not a call to memset.
            for (int i = 0; i < 4; ++i) channelValues[i] = 0.0f;
        } else {
            std::fill_n(channelValues, numChannels, 0.0f);
        }
        filters[thread]->eval(channelValues, 0, numChannels, map->faceId, u, v, uw1, vw1, uw2, vw2, width, blur);

        Color result = resolveColor(channelValues, colorPlan);
        if (!isFinite(result)) result = finiteColor(channelValues, numChannels, colorPlan);

        if (cache) cache->store(slot, key, result);
        return result;
    } catch (...) {
        // Nothing may leave the plug-in; the filters themselves do not throw.
        return kWhite;
    }
}
