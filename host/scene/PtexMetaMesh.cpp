#include "PtexMetaMesh.h"

#include "HostError.h"

#include <Ptexture.h>

#include <cmath>
#include <cstdint>
#include <memory>

namespace tarsk::host {

namespace {

constexpr const char* kCountsKey = "PtexFaceVertCounts";
constexpr const char* kIndicesKey = "PtexFaceVertIndices";
constexpr const char* kPositionsKey = "PtexVertPositions";

// Keeps the first error of a lazy read, so that a file whose meta data cannot be read fails.
class FirstError : public PtexErrorHandler {
public:
    void reportError(const char* error) override
    {
        if (!first.empty()) return;
        first = error ? error : "read error";
        while (!first.empty() && (first.back() == '\n' || first.back() == ' ')) first.pop_back();
        for (char& c : first)
            if (c == '\n') c = ' ';
    }
    std::string first;
};

struct Releaser {
    template <typename T>
    void operator()(T* p) const
    {
        p->release();
    }
};

const char* typeName(Ptex::MetaDataType type) { return Ptex::MetaDataTypeName(type); }

}  // namespace

PtexMetaMesh readPtexMetaMesh(const std::string& path)
{
    FirstError errors;
    std::unique_ptr<PtexCache, Releaser> cache(PtexCache::create(1, 0, false, nullptr, &errors));
    if (!cache) throw HostError("cannot read Ptex file '" + path + "': out of memory");
    Ptex::String error;
    std::unique_ptr<PtexTexture, Releaser> texture(cache->get(path.c_str(), error));
    if (!texture) {
        while (!error.empty() && error.back() == '\n') error.pop_back();
        for (char& c : error)
            if (c == '\n') c = ' ';
        throw HostError("cannot read Ptex file '" + path + "': " + (error.empty() ? "unknown error" : error));
    }
    std::unique_ptr<PtexMetaData, Releaser> meta(texture->getMetaData());
    if (!errors.first.empty()) throw HostError("cannot read the meta data of '" + path + "': " + errors.first);
    const std::string noMesh = path + " holds no mesh in its meta data: it needs the keys " + kCountsKey + ", " +
                               kIndicesKey + " and " + kPositionsKey;
    if (!meta) throw HostError(noMesh);

    int index = 0;
    Ptex::MetaDataType type = Ptex::mdt_string;
    auto require = [&](const char* key, Ptex::MetaDataType expected) {
        if (!meta->findKey(key, index, type)) throw HostError(noMesh + " (" + key + " is missing)");
        if (type != expected && !(expected == Ptex::mdt_float && type == Ptex::mdt_double))
            throw HostError(path + ": meta data " + key + " is stored as " + typeName(type) + ", expected " +
                            typeName(expected));
    };
    const int32_t* counts = nullptr;
    const int32_t* indices = nullptr;
    int numCounts = 0, numIndices = 0, numCoordinates = 0;
    require(kCountsKey, Ptex::mdt_int32);
    meta->getValue(kCountsKey, counts, numCounts);
    require(kIndicesKey, Ptex::mdt_int32);
    meta->getValue(kIndicesKey, indices, numIndices);
    require(kPositionsKey, Ptex::mdt_float);
    std::vector<double> coordinates;
    if (type == Ptex::mdt_float) {
        const float* values = nullptr;
        meta->getValue(kPositionsKey, values, numCoordinates);
        if (values) coordinates.assign(values, values + numCoordinates);
    } else {
        const double* values = nullptr;
        meta->getValue(kPositionsKey, values, numCoordinates);
        if (values) coordinates.assign(values, values + numCoordinates);
    }
    if (!errors.first.empty()) throw HostError("cannot read the meta data of '" + path + "': " + errors.first);
    if (numCounts <= 0 || !counts) throw HostError(path + ": meta data " + kCountsKey + " lists no faces");
    if (coordinates.size() % 3 != 0)
        throw HostError(path + ": meta data " + kPositionsKey + " holds " + std::to_string(coordinates.size()) +
                        " values, not three per vertex");

    PtexMetaMesh result;
    result.quadType = texture->meshType() == Ptex::mt_quad;
    result.numPtexFaces = texture->numFaces();
    ObjMesh& mesh = result.mesh;
    const size_t numVertices = coordinates.size() / 3;
    for (size_t v = 0; v < numVertices; ++v) {
        Vec3 p(coordinates[3 * v], coordinates[3 * v + 1], coordinates[3 * v + 2]);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            throw HostError(path + ": meta data " + kPositionsKey + " gives vertex " + std::to_string(v) +
                            " a position that is not finite");
        mesh.positions.push_back(p);
    }
    int64_t corners = 0, ptexFaces = 0;
    for (int f = 0; f < numCounts; ++f) {
        if (counts[f] < 3)
            throw HostError(path + ": meta data " + kCountsKey + " gives face " + std::to_string(f) + " " +
                            std::to_string(counts[f]) + " corners; a face needs at least 3");
        corners += counts[f];
        ptexFaces += result.quadType ? (counts[f] == 4 ? 1 : counts[f]) : (counts[f] == 3 ? 1 : 0);
        if (!result.quadType && counts[f] != 3)
            throw HostError(path + " is a triangle-type file, but its meta data gives face " + std::to_string(f) + " " +
                            std::to_string(counts[f]) + " corners");
    }
    if (corners != numIndices || !indices)
        throw HostError(path + ": meta data " + kIndicesKey + " holds " + std::to_string(numIndices) + " indices but " +
                        kCountsKey + " adds up to " + std::to_string(corners));
    if (ptexFaces != result.numPtexFaces)
        throw HostError(path + ": the mesh in the meta data accounts for " + std::to_string(ptexFaces) +
                        " Ptex faces, but the file has " + std::to_string(result.numPtexFaces));
    std::vector<int32_t> face;
    for (int f = 0, c = 0; f < numCounts; ++f) {
        face.clear();
        for (int k = 0; k < counts[f]; ++k, ++c) {
            if (indices[c] < 0 || static_cast<size_t>(indices[c]) >= numVertices)
                throw HostError(path + ": meta data " + kIndicesKey + " entry " + std::to_string(c) + " is vertex " +
                                std::to_string(indices[c]) + ", outside the " + std::to_string(numVertices) +
                                " vertices of " + kPositionsKey);
            face.push_back(indices[c]);
        }
        mesh.addFace(face);
    }
    return result;
}

}  // namespace tarsk::host
