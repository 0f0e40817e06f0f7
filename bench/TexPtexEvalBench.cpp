// bench-links: texptex_core tarsk_texptex_entry tarsk_framework tarsk_mesh tarsk
// Evaluations per second through TexPtex::evalColor against the bare PtexFilter::eval at the same
// (face, u, v, widths): what the plug-in's own work (cache look-up, hit rebuild, transform, face
// location, planar solves, colour resolution) adds to the filter. Filter types 0, 1 and 4 on a quad
// file (4 x 4 grid of unit quads), on a triangle file (the same grid split into 32 triangles) and
// on a quad file of pentagons (each cell with an extra corner, five sub-faces per cell),
// 1 and 2 threads. Every shading point misses the result cache, so the full work is measured.
// Also the frame start on a mesh of 10^6 render triangles, and its per-triangle table alone.
#include "FaceLocation.h"
#include "LibDesc.h"
#include "ShadingGeometry.h"
#include "TexPtex.h"
#include "UserPluginDesc.h"

#include <tarsk/GeometryTransform.h>
#include <tarsk/PluginBase.h>
#include <tarsk/ShadingContext.h>
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskRenderer.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace TUtils;

constexpr int kLog2 = 8;
constexpr int kRes = 1 << kLog2;
constexpr int kGrid = 4;
// Few enough shading points that their contexts stay in the processor's caches, as the context a
// renderer has just filled does; the texture data the filters read are the same for both sides.
constexpr size_t kQueries = 1 << 12;
constexpr int kThreads = 2;

// The hit object of a real render: a GeometryTransform, here the identity.
class IdentityGeometry : public PluginBase, public GeometryTransform {
public:
    PluginInterface* getInterface(uint64_t id) override
    {
        return id == kInterfaceId ? static_cast<GeometryTransform*>(this) : PluginBase::getInterface(id);
    }
    PluginBase* getPlugin() override { return this; }
    Vector3f transformNormal(const ShadingContext&, const Vector3f& n) override { return n; }
    Vector3f transformVector(const ShadingContext&, const Vector3f& v) override { return v; }
    Vector3f transformPoint(const ShadingContext&, const Vector3f& p) override { return p; }
};

// The meshes: a grid of unit quads, the same cells split into two triangles each (a triangle
// file), or each cell a pentagon with an extra corner just above the middle of its lower edge (a quad file
// of five sub-faces per cell).
enum class Shape { quads, triangles, pentagons };

const char* shapeName(Shape shape)
{
    return shape == Shape::quads ? "quad" : shape == Shape::triangles ? "triangle" : "pentagon";
}

bool writeFile(const std::string& path, Shape shape)
{
    const bool quad = shape != Shape::triangles;
    const int numFaces = kGrid * kGrid * (shape == Shape::quads ? 1 : shape == Shape::triangles ? 2 : 5);
    Ptex::String error;
    PtexPtr<PtexWriter> writer(PtexWriter::open(path.c_str(), quad ? Ptex::mt_quad : Ptex::mt_triangle, Ptex::dt_uint8,
                                                3, -1, numFaces, error, true));
    if (!writer) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    std::vector<uint8_t> texels(size_t(kRes) * kRes * 3);
    for (int f = 0; f < numFaces; ++f) {
        for (int y = 0; y < kRes; ++y)
            for (int x = 0; x < kRes; ++x) {
                uint8_t* t = &texels[(size_t(y) * kRes + size_t(x)) * 3];
                t[0] = uint8_t(127.5f + 127.0f * std::sin(0.1f * float(x + f)));
                t[1] = uint8_t(127.5f + 127.0f * std::cos(0.07f * float(y)));
                t[2] = uint8_t((x ^ y) & 255);
            }
        Ptex::FaceInfo info(Ptex::Res(kLog2, kLog2));
        if (shape == Shape::pentagons) info.flags |= Ptex::FaceInfo::flag_subface;
        if (shape == Shape::quads) {
            const int i = f % kGrid, j = f / kGrid;
            auto id = [](int x, int y) { return (x < 0 || y < 0 || x >= kGrid || y >= kGrid) ? -1 : y * kGrid + x; };
            info.setadjfaces(id(i, j - 1), id(i + 1, j), id(i, j + 1), id(i - 1, j));
            info.setadjedges(2, 3, 0, 1);
        }
        if (!writer->writeFace(f, info, texels.data())) return false;
    }
    return writer->close(error);
}

// The bare filter's arguments for one shading point.
struct FilterArgs {
    int faceId;
    float u, v, uw1, vw1, uw2, vw2;
};

struct Query {
    ShadingContext context;
    FilterArgs args;
};

// One file with its plug-in instance (ready, two render threads) and, for the bare filter, the
// same file from a plain cache with a filter per thread.
struct Setup {
    Shape shape = Shape::quads;
    int filterType = 0;
    TexPtex* tex = nullptr;
    std::unique_ptr<TarskRenderer> renderer;
    std::vector<Vector3f> vertices;
    std::vector<int32_t> origFaces, degrees, faces;
    PtexTexture* bareTexture = nullptr;
    PtexFilter* bareFilters[kThreads] = {};
    std::vector<Query> queries;
    // Per thread: what the keys of the next run add to the points' own keys. Google Benchmark runs
    // a function several times; a run that started from the same keys as an earlier one would
    // find that run's results in the cache.
    uint32_t keyOffset[kThreads] = {};
};

struct Workload {
    fs::path folder;
    PtexCache* cache = nullptr;
    IdentityGeometry geometry;
    ShadingThread threads[kThreads];
    std::vector<std::unique_ptr<Setup>> setups;

    Workload()
    {
        folder = fs::temp_directory_path() / ("tarsk-texptex-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        cache = PtexCache::create(4, size_t(1) << 30);
        for (int i = 0; i < kThreads; ++i) threads[i].threadIndex = i;
    }
    ~Workload()
    {
        for (auto& s : setups) {
            for (PtexFilter* f : s->bareFilters)
                if (f) f->release();
            if (s->bareTexture) s->bareTexture->release();
            if (s->tex) {
                s->tex->frameEnd(s->renderer.get());
                s->tex->renderEnd(s->renderer.get());
                texPtexPluginDesc()->deletePlugin(static_cast<Plugin*>(s->tex));
            }
        }
        if (cache) cache->release();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    // An instance on the file with a grid of nx x ny cells as its mesh, its frame started; with
    // `queries`, also the bare filters and the shading points; without `table`, no per-triangle
    // table, so that every point locates its face itself.
    Setup* make(Shape shape, int filterType, int nx = kGrid, int ny = kGrid, bool queries = true, bool table = true)
    {
        auto s = std::make_unique<Setup>();
        s->shape = shape;
        s->filterType = filterType;
        const std::string path = (folder / (std::string(shapeName(shape)) + "s.ptx")).string();
        if (!fs::exists(path) && !writeFile(path, shape)) return nullptr;
        // The grid: (nx + 1) (ny + 1) vertices, unit cells, then the pentagons' extra corners.
        for (int y = 0; y <= ny; ++y)
            for (int x = 0; x <= nx; ++x) s->vertices.push_back({float(x), float(y), 0.0f});
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x) {
                const int v0 = y * (nx + 1) + x, v1 = v0 + 1, v2 = v0 + nx + 2, v3 = v0 + nx + 1;
                if (shape == Shape::quads) {
                    s->origFaces.insert(s->origFaces.end(), {v0, v1, v2, v3});
                    s->degrees.push_back(4);
                    s->faces.insert(s->faces.end(), {v0, v1, v2, v0, v2, v3});
                } else if (shape == Shape::triangles) {
                    s->origFaces.insert(s->origFaces.end(), {v0, v1, v3, v2, v3, v1});
                    s->degrees.insert(s->degrees.end(), {3, 3});
                    s->faces.insert(s->faces.end(), {v0, v1, v3, v2, v3, v1});
                } else {
                    const int m = int(s->vertices.size());
                    s->vertices.push_back({float(x) + 0.5f, float(y) + 0.15f, 0.0f});
                    s->origFaces.insert(s->origFaces.end(), {v0, m, v1, v2, v3});
                    s->degrees.push_back(5);
                    s->faces.insert(s->faces.end(), {v0, m, v1, v0, v1, v2, v0, v2, v3});
                }
            }

        s->tex = static_cast<TexPtex*>(static_cast<Plugin*>(texPtexPluginDesc()->newPlugin(nullptr)));
        TarskPluginParameter file("ptex_file"), type("filter_type"), size("cache_size"), vertices("vertices"),
            origFaces("origFaces"), degrees("origFacesDegree"), faces("faces");
        file.setString(0, path.c_str());
        type.setInt(0, filterType);
        size.setInt(0, 256);
        vertices.setVectorList(0, s->vertices);
        origFaces.setIntList(0, s->origFaces);
        degrees.setIntList(0, s->degrees);
        faces.setIntList(0, s->faces);
        for (TarskPluginParameter* p : {&file, &type, &size, &vertices, &origFaces, &degrees, &faces})
            s->tex->setParameter(p);
        s->renderer = std::make_unique<TarskRenderer>(kThreads, 0.0, nullptr);
        if (!table) s->tex->frameTable.maxTriangles = 0;
        s->tex->renderBegin(s->renderer.get());
        s->tex->frameBegin(s->renderer.get());
        if (!s->tex->ready) return nullptr;
        if (!queries) {
            setups.push_back(std::move(s));
            return setups.back().get();
        }

        Ptex::String error;
        s->bareTexture = cache->get(path.c_str(), error);
        if (!s->bareTexture) return nullptr;
        const PtexFilter::Options options(static_cast<PtexFilter::FilterType>(filterType));
        for (PtexFilter*& f : s->bareFilters) f = PtexFilter::getFilter(s->bareTexture, options);
        makeQueries(*s);
        setups.push_back(std::move(s));
        return setups.back().get();
    }

    // Random hits with footprints of 2^-6 to 2^-9 of a cell; the bare filter's arguments are what
    // the evaluation computes for them.
    void makeQueries(Setup& s)
    {
        std::mt19937 rng(12345);
        const int numTriangles = s.tex->mesh->numTriangles;
        std::uniform_int_distribution<int> triangle(0, numTriangles - 1), expo(6, 9);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        s.queries.resize(kQueries);
        for (size_t i = 0; i < kQueries; ++i) {
            Query& q = s.queries[i];
            const int t = triangle(rng);
            float a = unit(rng), b = unit(rng);
            if (a + b > 1) a = 1 - a, b = 1 - b;
            ShadingContext& c = q.context;
            const Vector3f o = s.vertices[size_t(s.faces[3 * t])], p1 = s.vertices[size_t(s.faces[3 * t + 1])],
                           p2 = s.vertices[size_t(s.faces[3 * t + 2])];
            c.faceIndex = t;
            c.weightA = a;
            c.weightB = b;
            c.triOrigin = o;
            c.triEdgeA = {p1.x - o.x, p1.y - o.y, p1.z - o.z};
            c.triEdgeB = {p2.x - o.x, p2.y - o.y, p2.z - o.z};
            c.dPdx = {std::ldexp(1.0f, -expo(rng)), 0, 0};
            c.dPdy = {0, std::ldexp(1.0f, -expo(rng)), 0};
            c.geometryObject = &geometry;
            // Slots cycle through 1024 per thread and keys never repeat within a run of the list,
            // so every point is a cache miss followed by a store.
            c.cacheSlot = int32_t(i % 1024);
            c.cacheKey = uint32_t(i + 1);

            const Vec3f hit = Vec3f{o.x, o.y, o.z} + Vec3f{c.triEdgeA.x, c.triEdgeA.y, c.triEdgeA.z} * a +
                              Vec3f{c.triEdgeB.x, c.triEdgeB.y, c.triEdgeB.z} * b;
            FaceMap map = triangleFaceMap(s.tex->polyMesh, s.tex->triMesh, s.faces.data(), int32_t(s.faces.size()), t);
            if (map.faceId == FaceMap::kSubFaceSearch) subFaceMap(*s.tex->polyMesh, t, hit, PreparedSubFaces{}, map);
            FilterArgs& f = q.args;
            f.faceId = map.faceId;
            faceUv(map, hit, f.u, f.v);
            f.uw1 = f.vw1 = f.uw2 = f.vw2 = 0;
            if (s.filterType != 0) {
                faceWidth(map, {c.dPdx.x, c.dPdx.y, c.dPdx.z}, f.uw1, f.vw1);
                faceWidth(map, {c.dPdy.x, c.dPdy.y, c.dPdy.z}, f.uw2, f.vw2);
            }
        }
    }
};

Workload* workload = nullptr;

// Every evaluation misses the result cache: keys are new in every round and every run.
// Both sides walk the same shading points in the same order: thread k takes every points.size()
// / threads-th point from k on, copied into a compact array of its own, so that neither side
// reads the other's data or strides over memory the other does not touch.
void evalColorBench(benchmark::State& state, Setup* s)
{
    const int thread = state.thread_index();
    std::vector<ShadingContext> contexts;
    for (size_t i = size_t(thread); i < s->queries.size(); i += size_t(state.threads()))
        contexts.push_back(s->queries[i].context);
    uint32_t& offset = s->keyOffset[thread];
    for (ShadingContext& c : contexts) {
        c.thread = &workload->threads[thread];
        c.cacheKey += offset;
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s->tex->evalColor(contexts[i]));
        if (++i == contexts.size()) {
            i = 0;
            // A new round of the same points: move the keys on so that they miss again.
            offset += uint32_t(kQueries);
            for (ShadingContext& c : contexts) c.cacheKey += uint32_t(kQueries);
        }
    }
    offset += uint32_t(kQueries);
    state.SetItemsProcessed(state.iterations());
}

// A whole frame start and end on a mesh of 10^6 render triangles: the file opened through its
// private cache, a filter per thread, the topology and the per-triangle table built, all released.
// Argument 0 takes the table away: the frame start as it is without one.
void frameStartBench(benchmark::State& state, Setup* s)
{
    s->tex->frameTable.maxTriangles = state.range(0) ? TriangleFrameTable::kDefaultMaxTriangles : 0;
    for (auto _ : state) {
        s->tex->frameEnd(s->renderer.get());
        s->tex->frameBegin(s->renderer.get());
        if (!s->tex->ready) state.SkipWithError("frame not ready");
    }
    s->tex->frameTable.maxTriangles = TriangleFrameTable::kDefaultMaxTriangles;
    state.SetItemsProcessed(state.iterations() * s->tex->mesh->numTriangles);
}

// The per-triangle table alone, on the same mesh, made by one or two threads.
void frameTableBench(benchmark::State& state, Setup* s)
{
    TexPtex& tex = *s->tex;
    for (auto _ : state) {
        if (!tex.frameTable.build(tex.polyMesh, tex.triMesh, tex.faces, tex.numFaceIndices, tex.mesh->numTriangles,
                                  int(state.range(0))))
            state.SkipWithError("no table");
        benchmark::DoNotOptimize(tex.frameTable.entries());
    }
    state.SetItemsProcessed(state.iterations() * tex.mesh->numTriangles);
}

void bareFilterBench(benchmark::State& state, Setup* s)
{
    const int thread = state.thread_index();
    std::vector<FilterArgs> points;
    for (size_t i = size_t(thread); i < s->queries.size(); i += size_t(state.threads()))
        points.push_back(s->queries[i].args);
    PtexFilter* filter = s->bareFilters[thread];
    const int numChannels = s->bareTexture->numChannels();
    // A buffer as large as the plug-in's; the zero fill the plug-in does is its own work and is
    // not repeated here.
    float result[TexPtex::kMaxChannels];
    size_t i = 0;
    for (auto _ : state) {
        const FilterArgs& q = points[i];
        filter->eval(result, 0, numChannels, q.faceId, q.u, q.v, q.uw1, q.vw1, q.uw2, q.vw2, 1.0f, 0.0f);
        benchmark::DoNotOptimize(result);
        if (++i == points.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Workload w;
    workload = &w;
    for (Shape shape : {Shape::quads, Shape::triangles, Shape::pentagons}) {
        for (int filterType : {0, 1, 4}) {
            Setup* s = w.make(shape, filterType);
            if (!s) {
                std::fprintf(stderr, "cannot set up the %s file with filter %d\n", shapeName(shape), filterType);
                return 1;
            }
            const std::string name = std::string(shapeName(shape)) + "/filter" + std::to_string(filterType);
            benchmark::RegisterBenchmark(("evalColor/" + name).c_str(), evalColorBench, s)
                ->Threads(1)
                ->Threads(2)
                ->UseRealTime();
            benchmark::RegisterBenchmark(("bareFilter/" + name).c_str(), bareFilterBench, s)
                ->Threads(1)
                ->Threads(2)
                ->UseRealTime();
        }
    }
    // The point filter without the per-triangle table: what the table saves.
    for (Shape shape : {Shape::quads, Shape::triangles}) {
        Setup* s = w.make(shape, 0, kGrid, kGrid, true, false);
        if (!s) return 1;
        benchmark::RegisterBenchmark((std::string("evalColorPerPoint/") + shapeName(shape) + "/filter0").c_str(),
                                     evalColorBench, s)
            ->Threads(1)
            ->UseRealTime();
    }
    // 10^6 render triangles: 1000 x 500 quads, or as many cells split into two triangles each.
    for (Shape shape : {Shape::quads, Shape::triangles}) {
        Setup* s = w.make(shape, 1, 1000, 500, false);
        if (!s) {
            std::fprintf(stderr, "cannot set up the large %s mesh\n", shapeName(shape));
            return 1;
        }
        const std::string name = std::string(shapeName(shape)) + "/1M";
        benchmark::RegisterBenchmark(("frameStart/" + name).c_str(), frameStartBench, s)
            ->ArgName("table")
            ->Arg(1)
            ->Arg(0)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("frameTable/" + name).c_str(), frameTableBench, s)
            ->ArgName("workers")
            ->Arg(1)
            ->Arg(2)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
