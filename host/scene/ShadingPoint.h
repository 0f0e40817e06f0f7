// ShadingPoint: one row of a POINTS.tsv file: everything a ray tracer knows about a hit that the
// texture reads, in world space. The table reader/writer keeps the column order fixed; the host
// copies a point into the SDK's ShadingContext when it evaluates it.
#pragma once

#include "Vec3.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace tarsk::host {

// The correctHitFlag bit of ShadingContext::flags: weights are corrected by hitPoint - hitReference.
constexpr uint32_t kCorrectHitFlag = 0x400000;

struct ShadingPoint {
    int32_t thread = 0;
    uint32_t flags = 0;
    int32_t cacheSlot = 0;
    uint32_t cacheKey = 0;
    int32_t faceIndex = 0;
    float weightA = 0, weightB = 0;
    Vec3 triOrigin, triEdgeA, triEdgeB;  // floats in the context; kept exact here
    Vec3 hitPoint, hitReference;         // doubles in the context
    Vec3 correctionAxis, dPdx, dPdy;
};

// The header line of a POINTS.tsv file (tab-separated column names).
std::string pointsHeader();

// Writes one row (tab-separated, %.9g for floats, %.17g for the double-precision hit points).
void writePointRow(std::ostream& out, const ShadingPoint& point);

// Reads a POINTS.tsv file: the header line, then one point per line (blank lines and lines
// starting with '#' are skipped). Throws HostError naming the file, line and column.
std::vector<ShadingPoint> readPoints(const std::string& path);
std::vector<ShadingPoint> readPoints(std::istream& in, const std::string& label);

}  // namespace tarsk::host
