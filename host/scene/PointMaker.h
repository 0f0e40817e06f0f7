// PointMaker: complete shading points from a hand-written (faceIndex, weightA, weightB), the way a
// ray tracer would fill them for a hit on that render triangle of a scene object. Test cases for
// tarsk-eval are written this way; the renderer builds its points from the same triangle frame.
#pragma once

#include "MeshLists.h"
#include "ShadingPoint.h"
#include "Transform.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace tarsk::host {

// World-space corner and edges of render triangle `t`: the object's corners faces[3t .. 3t+2]
// carried to world space. False (and nothing written) when t or its indices are out of range.
bool worldTriangle(const MeshLists& lists, const Transform& objectToWorld, int t, Vec3& origin, Vec3& edgeA,
                   Vec3& edgeB);

struct PointRequest {
    int faceIndex = 0;
    float weightA = 0, weightB = 0;
    int thread = 0;
};

struct PointOptions {
    double footprint = 0.01;   // world-space length of dPdx and dPdy
    bool correctHits = false;  // set correctHitFlag with an exact hit point
};

// The point for one request. dPdx runs along edge A, dPdy perpendicular to it in the triangle's
// plane; cacheSlot/cacheKey come from a hash of the request, so equal requests share a cache entry
// and no key is 0. A face index outside the mesh gives a point with zero geometry.
ShadingPoint makePoint(const MeshLists& lists, const Transform& objectToWorld, const PointRequest& request,
                       const PointOptions& options);

// Reads requests: one "faceIndex weightA weightB [thread]" per line; '#' lines and blank lines
// are skipped. Throws HostError naming the line.
std::vector<PointRequest> readPointRequests(std::istream& in, const std::string& label);

}  // namespace tarsk::host
