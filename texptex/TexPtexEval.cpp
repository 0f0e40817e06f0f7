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

// Frame coordinates of a pixel differential: mapped to mesh space, projected onto the face's
// plane and solved in the frame. A differential that gives no finite solution contributes no
// width, so the filter never sees a non-finite width. Inlined: it runs twice per shading point.
__attribute__((always_inline)) inline void widthInFrame(const ShadingContext& context, GeometryTransform* transform,
                                                        const TUtils::Vector3f& differential,
                                                        const PlanarSolver& solver, const PlaneNormal& plane,
                                                        float& ds1, float& ds2) noexcept
{
    const Vec3f v = transform ? fromHost(transform->transformVector(context, differential)) : fromHost(differential);
    solver.solve(projectOntoPlane(v, plane), ds1, ds2);
    if (!std::isfinite(ds1) || !std::isfinite(ds2)) ds1 = ds2 = 0.0f;
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

        const int32_t t = context.faceIndex;
        if (t < 0 || t >= mesh->numTriangles) return kWhite;
        // A "faces" list shorter than three indices per render triangle has nothing for t.
        if (3 * static_cast<int64_t>(t) + 2 >= numFaceIndices) return kWhite;
        // Non-finite hit data have no place on the face.
        if (!isFinite(q)) return kWhite;

        FaceFrame frame;
        if (polyMesh) {
            if (!locateFace(*polyMesh, faces, t, q, frame)) return kWhite;
        } else {
            locateFace(*triMesh, t, frame);
        }
        // A frame degenerate in all three axis pairs (a zero-area face or sub-face) has no
        // coordinates; nor has a hit so far away that they overflow. Both get the neutral answer.
        // The hit and both differentials are solved in the same axis pair.
        PlanarSolver solver;
        if (!solver.init(frame.edge1, frame.edge2)) return kWhite;
        float s1, s2;
        solver.solve(q - frame.origin, s1, s2);
        if (!std::isfinite(s1) || !std::isfinite(s2)) return kWhite;

        float u, v;
        cornerToFaceUv(frame.corner, s1, s2, u, v);
        float uw1 = 0.0f, vw1 = 0.0f, uw2 = 0.0f, vw2 = 0.0f;
        if (filter_type != 0) {
            double normal[3];
            crossDouble(frame.edge1, frame.edge2, normal);
            const PlaneNormal plane = planeNormal(normal);
            float ds1, ds2;
            widthInFrame(context, transform, context.dPdx, solver, plane, ds1, ds2);
            cornerToFaceWidth(frame.corner, ds1, ds2, uw1, vw1);
            widthInFrame(context, transform, context.dPdy, solver, plane, ds1, ds2);
            cornerToFaceWidth(frame.corner, ds1, ds2, uw2, vw2);
        }

        // Zero-filled first, so that a face id the filter writes nothing for gives defined values.
        float channelValues[kMaxChannels];
        std::fill_n(channelValues, numChannels, 0.0f);
        filters[thread]->eval(channelValues, 0, numChannels, frame.faceId, u, v, uw1, vw1, uw2, vw2, width, blur);

        const Color result = resolveColor(channelValues, colorPlan);

        if (cache) cache->store(slot, key, result);
        return result;
    } catch (...) {
        // Nothing may leave the plug-in; the filters themselves do not throw.
        return kWhite;
    }
}
