// bench-links: tarsk_ptex
// PtexFilter::eval throughput per filter type on the workload of the reference figures: a
// 4x4 grid of 1024x1024 uint8 RGB quads and 32 unconnected 1024x1024 triangles, written with
// our writer into a temporary folder, read through one shared cache, random faces and
// positions, footprints of 2^-6 to 2^-9; one filter per thread.
#include <Ptexture.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr int kLog2 = 10;
constexpr int kRes = 1 << kLog2;
constexpr size_t kQueries = 1000000;

struct Query {
    int face;
    float u, v, uw, vw;
};

bool writeFile(const std::string& path, Ptex::MeshType mesh, int numFaces)
{
    Ptex::String error;
    PtexPtr<PtexWriter> writer(PtexWriter::open(path.c_str(), mesh, Ptex::dt_uint8, 3, -1, numFaces, error, true));
    if (!writer) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    const float twoPi = 6.28318531f;
    std::vector<uint8_t> texels(size_t(kRes) * kRes * 3);
    for (int f = 0; f < numFaces; f++) {
        const int i = f % 4, j = f / 4;
        for (int y = 0; y < kRes; y++)
            for (int x = 0; x < kRes; x++) {
                uint8_t* t = &texels[(size_t(y) * kRes + size_t(x)) * 3];
                const float fx = (float(i) + float(x) / kRes) * twoPi, fy = (float(j) + float(y) / kRes) * twoPi;
                if (mesh == Ptex::mt_quad) {
                    t[0] = uint8_t(127.5f + 127.0f * std::sin(3 * fx) * std::cos(2 * fy));
                    t[1] = uint8_t(127.5f + 127.0f * std::sin(17 * fx + 5 * fy));
                    t[2] = uint8_t((x ^ y) & 255);
                } else {
                    t[0] = uint8_t(127.5f + 127.0f * std::sin(fx + float(f)));
                    t[1] = uint8_t(127.5f + 127.0f * std::cos(2 * fy));
                    t[2] = uint8_t(127.5f + 127.0f * std::sin(fx + fy));
                }
            }
        Ptex::FaceInfo info(Ptex::Res(kLog2, kLog2));
        if (mesh == Ptex::mt_quad) {
            // Neighbours across edges 0..3 (bottom, right, top, left), meeting edges 2, 3, 0, 1.
            auto id = [](int x, int y) { return (x < 0 || y < 0 || x > 3 || y > 3) ? -1 : y * 4 + x; };
            info.setadjfaces(id(i, j - 1), id(i + 1, j), id(i, j + 1), id(i - 1, j));
            info.setadjedges(2, 3, 0, 1);
        }
        if (!writer->writeFace(f, info, texels.data())) {
            std::fprintf(stderr, "cannot write face %d of %s\n", f, path.c_str());
            return false;
        }
    }
    if (!writer->close(error)) {
        std::fprintf(stderr, "cannot close %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

// The two files, the cache holding them and the query list, made once for all benchmarks.
struct Workload {
    fs::path folder;
    PtexCache* cache = nullptr;
    PtexTexture* quads = nullptr;
    PtexTexture* triangles = nullptr;
    std::vector<Query> quadQueries, triangleQueries;

    Workload()
    {
        folder = fs::temp_directory_path() / ("tarsk-filter-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        const std::string quadPath = (folder / "quads.ptx").string(), triPath = (folder / "triangles.ptx").string();
        if (!writeFile(quadPath, Ptex::mt_quad, 16) || !writeFile(triPath, Ptex::mt_triangle, 32)) return;
        cache = PtexCache::create(4, size_t(1) << 30);
        Ptex::String error;
        quads = cache->get(quadPath.c_str(), error);
        triangles = cache->get(triPath.c_str(), error);
        quadQueries = makeQueries(16);
        triangleQueries = makeQueries(32);
        // Make every level the filters read resident before timing.
        for (PtexTexture* tx : {quads, triangles}) {
            if (!tx) continue;
            const bool tri = tx->meshType() == Ptex::mt_triangle;
            for (int f = 0; f < tx->numFaces(); f++)
                for (int a = 0; a <= kLog2; a++)
                    for (int b = tri ? a : 0; b <= (tri ? a : kLog2); b++) {
                        PtexFaceData* d = tx->getData(f, Ptex::Res(int8_t(a), int8_t(b)));
                        if (!d) continue;
                        if (d->isTiled()) {
                            const Ptex::Res tiles = d->tileRes();
                            const int count = (1 << (a - tiles.ulog2)) * (1 << (b - tiles.vlog2));
                            for (int t = 0; t < count; t++) {
                                PtexFaceData* tile = d->getTile(t);
                                if (tile) tile->release();
                            }
                        }
                        d->release();
                    }
        }
    }
    ~Workload()
    {
        if (quads) quads->release();
        if (triangles) triangles->release();
        if (cache) cache->release();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    static std::vector<Query> makeQueries(int numFaces)
    {
        std::mt19937 rng(12345);
        std::uniform_int_distribution<int> face(0, numFaces - 1), expo(6, 9);
        std::uniform_real_distribution<float> pos(0.0f, 1.0f);
        std::vector<Query> queries(kQueries);
        for (Query& q : queries) {
            q.face = face(rng);
            q.u = pos(rng);
            q.v = pos(rng);
            q.uw = std::ldexp(1.0f, -expo(rng));
            q.vw = std::ldexp(1.0f, -expo(rng));
        }
        return queries;
    }
};

Workload& workload()
{
    static Workload w;
    return w;
}

void filterEval(benchmark::State& state, bool triangles, PtexFilter::FilterType type)
{
    Workload& w = workload();
    PtexTexture* tx = triangles ? w.triangles : w.quads;
    if (!tx) {
        state.SkipWithError("benchmark textures could not be written or opened");
        return;
    }
    const std::vector<Query>& queries = triangles ? w.triangleQueries : w.quadQueries;
    PtexPtr<PtexFilter> filter(PtexFilter::getFilter(tx, PtexFilter::Options(type, false, 0.0f)));
    // Thread t takes the queries i with i mod threads = t.
    size_t i = size_t(state.thread_index());
    const size_t stride = size_t(state.threads());
    float result[3];
    for (auto _ : state) {
        const Query& q = queries[i];
        filter->eval(result, 0, 3, q.face, q.u, q.v, q.uw, 0, 0, q.vw, 1.0f, 0.0f);
        benchmark::DoNotOptimize(result);
        i += stride;
        if (i >= queries.size()) i = size_t(state.thread_index());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void registerAll()
{
    const char* names[] = {"point", "bilinear", "box", "gaussian", "bicubic", "bspline", "catmullrom", "mitchell"};
    for (int t = 0; t <= 7; t++)
        benchmark::RegisterBenchmark((std::string("FilterEval/quad/") + names[t]).c_str(), filterEval, false,
                                     PtexFilter::FilterType(t))
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime();
    benchmark::RegisterBenchmark("FilterEval/triangle/point", filterEval, true, PtexFilter::f_point)
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime();
    benchmark::RegisterBenchmark("FilterEval/triangle/triangle", filterEval, true, PtexFilter::f_box)
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
