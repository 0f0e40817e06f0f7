#include "ShadingPoint.h"

#include "HostError.h"
#include "LineReader.h"
#include "ShortText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

namespace tarsk::host {

namespace {

constexpr const char* kScalarColumns[] = {"thread",    "flags",   "cacheSlot", "cacheKey",
                                          "faceIndex", "weightA", "weightB"};
constexpr const char* kVectorColumns[] = {"triOrigin",    "triEdgeA",       "triEdgeB", "hitPoint",
                                          "hitReference", "correctionAxis", "dPdx",     "dPdy"};
constexpr int kNumColumns = 7 + 8 * 3;

std::vector<std::string> columnNames()
{
    std::vector<std::string> names(std::begin(kScalarColumns), std::end(kScalarColumns));
    for (const char* v : kVectorColumns)
        for (const char* axis : {".x", ".y", ".z"}) names.push_back(std::string(v) + axis);
    return names;
}

std::vector<std::string> splitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream words(line);
    for (std::string w; words >> w;) fields.push_back(w);
    return fields;
}

}  // namespace

std::string pointsHeader()
{
    std::string header;
    for (const std::string& name : columnNames()) header += (header.empty() ? "" : "\t") + name;
    return header;
}

void writePointRow(std::ostream& out, const ShadingPoint& p)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d\t0x%x\t%d\t%u\t%d", p.thread, p.flags, p.cacheSlot, p.cacheKey, p.faceIndex);
    out << buf;
    std::snprintf(buf, sizeof buf, "\t%.9g\t%.9g", p.weightA, p.weightB);
    out << buf;
    auto vec = [&](const Vec3& v, const char* format) {
        for (int a = 0; a < 3; ++a) {
            std::snprintf(buf, sizeof buf, format, v[a]);
            out << '\t' << buf;
        }
    };
    vec(p.triOrigin, "%.9g");
    vec(p.triEdgeA, "%.9g");
    vec(p.triEdgeB, "%.9g");
    vec(p.hitPoint, "%.17g");
    vec(p.hitReference, "%.17g");
    vec(p.correctionAxis, "%.9g");
    vec(p.dPdx, "%.9g");
    vec(p.dPdy, "%.9g");
    out << '\n';
}

std::vector<ShadingPoint> readPoints(std::istream& in, const std::string& label)
{
    const std::vector<std::string> names = columnNames();
    std::vector<ShadingPoint> points;
    std::string line;
    bool sawHeader = false;
    LineReader lines(in, label);
    while (lines.next(line)) {
        std::vector<std::string> fields = splitFields(line);
        if (fields.empty() || fields[0][0] == '#') continue;
        std::string where = lines.where();
        if (!sawHeader) {
            sawHeader = true;
            if (fields != names)
                throw HostError(
                    where + ": expected the header line with the " + std::to_string(kNumColumns) +
                    " columns thread flags cacheSlot cacheKey faceIndex weightA weightB triOrigin.x ... dPdy.z");
            continue;
        }
        if (static_cast<int>(fields.size()) != kNumColumns)
            throw HostError(where + ": expected " + std::to_string(kNumColumns) + " columns, found " +
                            std::to_string(fields.size()));
        auto integer = [&](int col, long long lo, long long hi) {
            errno = 0;
            char* end = nullptr;
            long long v = std::strtoll(fields[col].c_str(), &end, 0);
            // The whole field must be the number: a NUL byte inside it ends the C string early.
            if (end != fields[col].c_str() + fields[col].size() || errno == ERANGE || v < lo || v > hi)
                throw HostError(where + ": column " + names[col] + ": '" + shortText(fields[col]) +
                                "' is not an integer in [" + std::to_string(lo) + ", " + std::to_string(hi) + "]");
            return v;
        };
        auto number = [&](int col) {
            errno = 0;
            char* end = nullptr;
            double v = std::strtod(fields[col].c_str(), &end);
            if (end != fields[col].c_str() + fields[col].size() || !std::isfinite(v))
                throw HostError(where + ": column " + names[col] + ": '" + shortText(fields[col]) +
                                "' is not a finite number");
            return v;
        };
        ShadingPoint p;
        p.thread = static_cast<int32_t>(integer(0, 0, INT32_MAX));
        p.flags = static_cast<uint32_t>(integer(1, 0, UINT32_MAX));
        p.cacheSlot = static_cast<int32_t>(integer(2, INT32_MIN, INT32_MAX));
        p.cacheKey = static_cast<uint32_t>(integer(3, 0, UINT32_MAX));
        p.faceIndex = static_cast<int32_t>(integer(4, INT32_MIN, INT32_MAX));
        p.weightA = static_cast<float>(number(5));
        p.weightB = static_cast<float>(number(6));
        Vec3* vectors[] = {&p.triOrigin,    &p.triEdgeA,       &p.triEdgeB, &p.hitPoint,
                           &p.hitReference, &p.correctionAxis, &p.dPdx,     &p.dPdy};
        for (int v = 0; v < 8; ++v) *vectors[v] = {number(7 + 3 * v), number(8 + 3 * v), number(9 + 3 * v)};
        points.push_back(p);
    }
    if (!sawHeader) throw HostError(label + ": no header line; expected the POINTS columns");
    return points;
}

std::vector<ShadingPoint> readPoints(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw HostError("cannot open points file '" + path + "'");
    return readPoints(in, path);
}

}  // namespace tarsk::host
