// Fuzz target: the original-mesh topology. Fuzzed "vertices", "origFaces" and "origFacesDegree"
// lists go through the frame-start sequence and build() of both mesh forms, with and without
// reversed corners; a mesh that builds must answer every query the evaluation makes with corners
// inside the host's vertex list and Ptex ids below numPtexFaces.
#include "OrigPolyMesh.h"
#include "OrigTriMesh.h"

#include <tarsk/TarskPluginParameter.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <vector>

namespace {

[[noreturn]] void fault(const char* what)
{
    std::fprintf(stderr, "topology fault: %s\n", what);
    __builtin_trap();
}

void checkCorner(const OrigMesh& mesh, const float* corner)
{
    const float* first = mesh.vertices;
    const float* last = mesh.vertices + 3 * static_cast<std::ptrdiff_t>(mesh.numVertices());
    if (corner < first || corner + 3 > last || (corner - first) % 3 != 0) fault("corner outside the vertex list");
}

template <typename Mesh>
void buildAndQuery(const TUtils::TarskPluginParameter& vertices, const TUtils::TarskPluginParameter& origFaces,
                   const TUtils::TarskPluginParameter& degrees, bool reverse)
{
    Mesh mesh;
    if (!mesh.setVertices(0.0, &vertices) || !mesh.setFaceVertices(0.0, &origFaces) ||
        !mesh.setFaceDegrees(0.0, &degrees) || !mesh.setNumFaces(0.0, &degrees))
        return;
    mesh.reverse = reverse ? 1 : 0;
    mesh.build();
    if (!mesh.valid()) {
        if (mesh.numTriangles != 0 || mesh.error()[0] == '\0')
            fault("an invalid mesh keeps triangles or has no message");
        return;
    }
    for (int t = 0; t < mesh.numTriangles; ++t) {
        const int degree = mesh.getFaceDegree(t);
        if (degree < 3) fault("a render triangle on a face of fewer than 3 corners");
        if (!mesh.getFace(t)) fault("no face record");
        for (int k = 0; k < degree; ++k) {
            checkCorner(mesh, mesh.getVertex(t, k));
            int mapped = k;
            mesh.mapCorner(t, mapped);
            if (mapped < 0 || mapped >= degree) fault("mapped corner out of range");
            mesh.mapCorner(t, mapped);
            if (mapped != k) fault("the corner map is not its own inverse");
        }
        if constexpr (std::is_same_v<Mesh, OrigPolyMesh>) {
            const OrigFace& face = mesh.origFace(t);
            const int ids = degree == 4 ? 1 : degree;
            if (face.ptexFaceId < 0 || int64_t(face.ptexFaceId) + ids > mesh.numPtexFaces())
                fault("Ptex face id past numPtexFaces");
        }
    }
    // A second build on the same lists must give the same answer (tables are rebuilt, not leaked).
    const int32_t triangles = mesh.numTriangles;
    mesh.build();
    if (!mesh.valid() || mesh.numTriangles != triangles) fault("rebuild disagrees");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    const int vertexCount = in.ConsumeIntegralInRange(0, 64);
    const bool reverse = in.ConsumeBool();
    const int degreeCount = in.ConsumeIntegralInRange(0, 64);
    std::vector<int32_t> degrees;
    degrees.reserve(size_t(degreeCount));
    for (int i = 0; i < degreeCount; ++i) {
        // Mostly small degrees, sometimes anything at all (negative, huge).
        degrees.push_back(in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 8) : in.ConsumeIntegral<int32_t>());
    }
    std::vector<int32_t> indices;
    while (in.remaining_bytes() > 0 && indices.size() < 512)
        indices.push_back(in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, vertexCount)
                                           : in.ConsumeIntegral<int32_t>());

    std::vector<TUtils::Vector3f> positions;
    positions.reserve(size_t(vertexCount));
    for (int i = 0; i < vertexCount; ++i) positions.push_back({float(i), float(i % 7), 1.0f});
    TUtils::TarskPluginParameter vertices("vertices");
    TUtils::TarskPluginParameter origFaces("origFaces");
    TUtils::TarskPluginParameter origFacesDegree("origFacesDegree");
    vertices.setVectorList(0.0, std::move(positions));
    origFaces.setIntList(0.0, std::move(indices));
    origFacesDegree.setIntList(0.0, std::move(degrees));

    buildAndQuery<OrigPolyMesh>(vertices, origFaces, origFacesDegree, reverse);
    buildAndQuery<OrigTriMesh>(vertices, origFaces, origFacesDegree, reverse);
    return 0;
}
