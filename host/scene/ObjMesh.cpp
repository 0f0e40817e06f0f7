#include "ObjMesh.h"

#include "HostError.h"
#include "LineReader.h"
#include "ShortText.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace tarsk::host {

bool ObjMesh::hasUvs() const
{
    if (cornerUvs.empty()) return false;
    for (int32_t uv : cornerUvs)
        if (uv < 0) return false;
    return true;
}

bool ObjMesh::hasNormals() const
{
    for (int32_t n : cornerNormals)
        if (n >= 0) return true;
    return false;
}

void ObjMesh::addFace(const std::vector<int32_t>& positionIndices, const std::vector<int32_t>& uvIndices,
                      const std::vector<int32_t>& normalIndices)
{
    faceStarts.push_back(static_cast<int32_t>(cornerPositions.size()));
    faceDegrees.push_back(static_cast<int32_t>(positionIndices.size()));
    for (size_t i = 0; i < positionIndices.size(); ++i) {
        cornerPositions.push_back(positionIndices[i]);
        cornerUvs.push_back(i < uvIndices.size() ? uvIndices[i] : -1);
        cornerNormals.push_back(i < normalIndices.size() ? normalIndices[i] : -1);
    }
}

namespace {

double parseNumber(const std::string& token, const std::string& where)
{
    errno = 0;
    char* end = nullptr;
    double v = std::strtod(token.c_str(), &end);
    // The whole token must be the number: a NUL byte inside it ends the C string early.
    if (token.empty() || end != token.c_str() + token.size() || errno == ERANGE || !std::isfinite(v))
        throw HostError(where + ": '" + shortText(token) + "' is not a finite number");
    return v;
}

// Resolves a 1-based (or negative, relative) OBJ index against `count` elements.
int32_t resolveIndex(const std::string& token, size_t count, const char* what, const std::string& where)
{
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(token.c_str(), &end, 10);
    if (token.empty() || end != token.c_str() + token.size() || errno == ERANGE || v == 0)
        throw HostError(where + ": '" + shortText(token) + "' is not a valid " + what + " index");
    long resolved = v > 0 ? v - 1 : static_cast<long>(count) + v;
    if (resolved < 0 || resolved >= static_cast<long>(count))
        throw HostError(where + ": " + what + " index " + shortText(token) + " is out of range (" +
                        std::to_string(count) + " defined so far)");
    return static_cast<int32_t>(resolved);
}

}  // namespace

ObjMesh readObj(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw HostError("cannot open OBJ file '" + path + "'");
    ObjMesh mesh;
    // Indices into the lists are 32-bit in the mesh lists the plug-in reads.
    constexpr size_t kMaxElements = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    LineReader lines(in, path);
    std::string line;
    while (lines.next(line)) {
        std::string where = path + ":" + std::to_string(lines.lineNumber());
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword) || keyword[0] == '#') continue;
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        if (keyword == "v") {
            if (args.size() < 3) throw HostError(where + ": a vertex needs three coordinates");
            if (mesh.positions.size() >= kMaxElements)
                throw HostError(where + ": more vertices than 32-bit indices reach");
            mesh.positions.push_back(
                {parseNumber(args[0], where), parseNumber(args[1], where), parseNumber(args[2], where)});
        } else if (keyword == "vt") {
            if (args.size() < 2) throw HostError(where + ": a texture coordinate needs two values");
            if (mesh.uvs.size() >= kMaxElements)
                throw HostError(where + ": more texture coordinates than 32-bit indices reach");
            mesh.uvs.push_back({parseNumber(args[0], where), parseNumber(args[1], where)});
        } else if (keyword == "vn") {
            if (args.size() < 3) throw HostError(where + ": a normal needs three coordinates");
            if (mesh.normals.size() >= kMaxElements)
                throw HostError(where + ": more normals than 32-bit indices reach");
            mesh.normals.push_back(
                {parseNumber(args[0], where), parseNumber(args[1], where), parseNumber(args[2], where)});
        } else if (keyword == "f") {
            if (args.size() < 3)
                throw HostError(where + ": a face needs at least three corners, this one has " +
                                std::to_string(args.size()));
            if (mesh.cornerPositions.size() + args.size() > kMaxElements)
                throw HostError(where + ": more face corners than 32-bit indices reach");
            std::vector<int32_t> positions, uvs, normals;
            for (const std::string& corner : args) {
                size_t slash = corner.find('/');
                positions.push_back(resolveIndex(corner.substr(0, slash), mesh.positions.size(), "vertex", where));
                if (slash != std::string::npos) {
                    size_t slash2 = corner.find('/', slash + 1);
                    std::string uvToken =
                        corner.substr(slash + 1, slash2 == std::string::npos ? std::string::npos : slash2 - slash - 1);
                    uvs.push_back(
                        uvToken.empty() ? -1 : resolveIndex(uvToken, mesh.uvs.size(), "texture coordinate", where));
                    std::string normalToken = slash2 == std::string::npos ? "" : corner.substr(slash2 + 1);
                    normals.push_back(
                        normalToken.empty() ? -1 : resolveIndex(normalToken, mesh.normals.size(), "normal", where));
                } else {
                    uvs.push_back(-1);
                    normals.push_back(-1);
                }
            }
            mesh.addFace(positions, uvs, normals);
        }
    }
    return mesh;
}

void writeObj(const std::string& path, const ObjMesh& mesh)
{
    std::ofstream out(path);
    if (!out) throw HostError("cannot write OBJ file '" + path + "'");
    char buf[128];
    for (const Vec3& p : mesh.positions) {
        std::snprintf(buf, sizeof buf, "v %.9g %.9g %.9g\n", p.x, p.y, p.z);
        out << buf;
    }
    for (const auto& uv : mesh.uvs) {
        std::snprintf(buf, sizeof buf, "vt %.9g %.9g\n", uv[0], uv[1]);
        out << buf;
    }
    for (const Vec3& n : mesh.normals) {
        std::snprintf(buf, sizeof buf, "vn %.9g %.9g %.9g\n", n.x, n.y, n.z);
        out << buf;
    }
    for (int f = 0; f < mesh.numFaces(); ++f) {
        out << 'f';
        for (int k = 0; k < mesh.faceDegrees[f]; ++k) {
            int c = mesh.faceStarts[f] + k;
            out << ' ' << mesh.cornerPositions[c] + 1;
            const bool normal = c < static_cast<int>(mesh.cornerNormals.size()) && mesh.cornerNormals[c] >= 0;
            if (mesh.cornerUvs[c] >= 0 || normal) out << '/';
            if (mesh.cornerUvs[c] >= 0) out << mesh.cornerUvs[c] + 1;
            if (normal) out << '/' << mesh.cornerNormals[c] + 1;
        }
        out << '\n';
    }
    out.flush();
    if (!out) throw HostError("error while writing OBJ file '" + path + "'");
}

}  // namespace tarsk::host
