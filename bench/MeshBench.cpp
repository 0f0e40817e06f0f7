// bench-links: tarsk_mesh tarsk
// Topology cost: building the per-frame tables of a large polygon mesh, and the per-shading-point
// queries (degree, face record, corners) that evaluation makes.
#include "OrigPolyMesh.h"
#include "OrigTriMesh.h"

#include <tarsk/TarskPluginParameter.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

namespace {

// A mesh of `faceCount` faces, mostly quads with triangles and pentagons mixed in, over a grid of
// vertices; the lists live in host parameters as a scene would hold them.
struct BenchLists {
    explicit BenchLists(int faceCount)
        : vertices("vertices"), origFaces("origFaces"), origFacesDegree("origFacesDegree")
    {
        const int vertexCount = faceCount + 8;
        std::vector<TUtils::Vector3f> positions;
        for (int i = 0; i < vertexCount; ++i)
            positions.push_back({static_cast<float>(i % 1024), static_cast<float>(i / 1024), 0.0f});
        std::vector<int32_t> indices;
        std::vector<int32_t> degrees;
        for (int face = 0; face < faceCount; ++face) {
            const int d = face % 10 == 0 ? 3 : face % 10 == 5 ? 5 : 4;
            degrees.push_back(d);
            for (int j = 0; j < d; ++j) indices.push_back(face + j);
        }
        vertices.setVectorList(0.0, std::move(positions));
        origFaces.setIntList(0.0, std::move(indices));
        origFacesDegree.setIntList(0.0, std::move(degrees));
    }

    template <typename Mesh>
    std::unique_ptr<Mesh> build(bool reverse) const
    {
        auto mesh = std::make_unique<Mesh>();
        mesh->setVertices(0.0, &vertices);
        mesh->setFaceVertices(0.0, &origFaces);
        mesh->setFaceDegrees(0.0, &origFacesDegree);
        mesh->setNumFaces(0.0, &origFacesDegree);
        mesh->reverse = reverse ? 1 : 0;
        mesh->build();
        return mesh;
    }

    TUtils::TarskPluginParameter vertices;
    TUtils::TarskPluginParameter origFaces;
    TUtils::TarskPluginParameter origFacesDegree;
};

void BM_PolyMeshBuild(benchmark::State& state)
{
    const BenchLists lists(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto mesh = lists.build<OrigPolyMesh>(false);
        benchmark::DoNotOptimize(mesh->numTriangles);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel("faces");
}
BENCHMARK(BM_PolyMeshBuild)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// What evaluation asks per shading point of an n-gon: degree, record, every corner via mapCorner.
// Argument 0: neighbouring triangles one after another, as coherent rays hit them; 1: triangles
// drawn at random over the whole mesh, which mostly measures cache misses.
template <typename Mesh>
void BM_MeshQuery(benchmark::State& state)
{
    const BenchLists lists(1000000);
    auto mesh = lists.build<Mesh>(true);
    const OrigMesh& topology = *mesh;
    std::mt19937 random(1);
    std::vector<int> triangles(4096);
    for (size_t i = 0; i < triangles.size(); ++i)
        triangles[i] = state.range(0) == 0 ? static_cast<int>(i / 4)
                                           : std::uniform_int_distribution<int>(0, topology.numTriangles - 1)(random);
    size_t next = 0;
    for (auto _ : state) {
        const int t = triangles[next++ & 4095];
        const int degree = topology.getFaceDegree(t);
        benchmark::DoNotOptimize(topology.getFace(t));
        float sum = 0.0f;
        for (int k = 0; k < degree; ++k) {
            int corner = k;
            topology.mapCorner(t, corner);
            sum += topology.getVertex(t, corner)[0];
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_TEMPLATE(BM_MeshQuery, OrigPolyMesh)->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(BM_MeshQuery, OrigTriMesh)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
