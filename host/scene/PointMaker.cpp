#include "PointMaker.h"

#include "HostError.h"
#include "LineReader.h"
#include "ShortText.h"

#include <cmath>
#include <cstring>
#include <istream>
#include <sstream>

namespace tarsk::host {

bool worldTriangle(const MeshLists& lists, const Transform& objectToWorld, int t, Vec3& origin, Vec3& edgeA,
                   Vec3& edgeB)
{
    if (t < 0 || t >= lists.numTriangles()) return false;
    Vec3 corner[3];
    for (int k = 0; k < 3; ++k) {
        int32_t idx = lists.faces[3 * t + k];
        if (idx < 0 || idx >= static_cast<int32_t>(lists.vertices.size())) return false;
        const auto& v = lists.vertices[idx];
        corner[k] = objectToWorld.point({v.x, v.y, v.z});
    }
    origin = corner[0];
    edgeA = corner[1] - corner[0];
    edgeB = corner[2] - corner[0];
    return true;
}

namespace {

uint32_t hashRequest(const PointRequest& r)
{
    // FNV-1a over the exact bits of the request.
    uint32_t h = 2166136261u;
    auto mix = [&h](const void* data, size_t size) {
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 16777619u;
    };
    mix(&r.faceIndex, sizeof r.faceIndex);
    mix(&r.weightA, sizeof r.weightA);
    mix(&r.weightB, sizeof r.weightB);
    return h;
}

}  // namespace

ShadingPoint makePoint(const MeshLists& lists, const Transform& objectToWorld, const PointRequest& request,
                       const PointOptions& options)
{
    ShadingPoint p;
    p.thread = request.thread;
    p.faceIndex = request.faceIndex;
    p.weightA = request.weightA;
    p.weightB = request.weightB;
    uint32_t hash = hashRequest(request);
    p.cacheSlot = static_cast<int32_t>(hash % 64);
    p.cacheKey = hash == 0 ? 1 : hash;
    if (!worldTriangle(lists, objectToWorld, request.faceIndex, p.triOrigin, p.triEdgeA, p.triEdgeB)) return p;
    Vec3 normal = normalize(cross(p.triEdgeA, p.triEdgeB));
    Vec3 hit = p.triOrigin + p.triEdgeA * static_cast<double>(p.weightA) + p.triEdgeB * static_cast<double>(p.weightB);
    p.hitPoint = hit;
    p.hitReference = hit;
    p.correctionAxis = normal;
    if (options.correctHits) p.flags |= kCorrectHitFlag;
    Vec3 alongA = normalize(p.triEdgeA);
    Vec3 across = normalize(cross(normal, alongA));
    p.dPdx = alongA * options.footprint;
    p.dPdy = across * options.footprint;
    return p;
}

std::vector<PointRequest> readPointRequests(std::istream& in, const std::string& label)
{
    std::vector<PointRequest> requests;
    std::string line;
    LineReader lines(in, label);
    while (lines.next(line)) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string w; words >> w;) fields.push_back(w);
        if (fields.empty() || fields[0][0] == '#') continue;
        std::string where = lines.where();
        if (fields.size() < 3 || fields.size() > 4)
            throw HostError(where + ": expected 'faceIndex weightA weightB [thread]'");
        PointRequest r;
        try {
            size_t used = 0;
            r.faceIndex = std::stoi(fields[0], &used);
            if (used != fields[0].size()) throw std::invalid_argument("faceIndex");
            r.weightA = std::stof(fields[1], &used);
            if (used != fields[1].size()) throw std::invalid_argument("weightA");
            r.weightB = std::stof(fields[2], &used);
            if (used != fields[2].size()) throw std::invalid_argument("weightB");
            if (!std::isfinite(r.weightA) || !std::isfinite(r.weightB)) throw std::invalid_argument("weights");
            if (fields.size() == 4) {
                r.thread = std::stoi(fields[3], &used);
                if (used != fields[3].size() || r.thread < 0) throw std::invalid_argument("thread");
            }
        } catch (const std::exception&) {
            throw HostError(where + ": expected 'faceIndex weightA weightB [thread]' with numbers, got '" +
                            shortText(line) + "'");
        }
        requests.push_back(r);
    }
    return requests;
}

}  // namespace tarsk::host
