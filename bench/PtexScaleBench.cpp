// bench-links: bench_grid_workload tarsk_ptex
// Reading at production scale: a grid of side x side small quads (GridWorkload: 8x8 uint8 RGB
// texels, full adjacency, mip-maps) at side 128, 384 and 512. Measures the memory right after
// PtexCache::get (process RSS and heap growth, and the cache's memUsed, per face), a point
// lookup at every face centre on a fresh texture (every face decoded) and again once resident,
// and 400,000 random bilinear lookups (width 0.05) through a cache of 8 MB with the peak memUsed.
#include "GridWorkload.h"

#include <Ptexture.h>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

constexpr size_t kSmallCache = 8u << 20;
constexpr int kRandomLookups = 400000;
constexpr float kBilinearWidth = 0.05f;

// One grid file per side, written on first use into the temporary folder and removed at exit.
// With TARSK_BENCH_GRID_DIR set, the files are kept in that folder and reused by later runs
// (writing the largest grid takes a while, and a profile of the reads is clearer without it).
const std::string& gridFile(int side)
{
    static std::map<int, std::string> paths;
    auto found = paths.find(side);
    if (found != paths.end()) return found->second;
    const char* keepDir = std::getenv("TARSK_BENCH_GRID_DIR");
    const std::string name = keepDir
                                 ? "grid-" + std::to_string(side) + ".ptx"
                                 : "tarsk-ptex-scale-" + std::to_string(getpid()) + "-" + std::to_string(side) + ".ptx";
    const std::string path =
        ((keepDir ? std::filesystem::path(keepDir) : std::filesystem::temp_directory_path()) / name).string();
    if (!keepDir || !std::filesystem::exists(path)) {
        bench::GridWorkload grid;
        grid.side = side;
        std::string error;
        if (!bench::writeGridFile(grid, path, error))
            fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
    }
    if (paths.empty() && !keepDir)
        std::atexit([] {
            for (const auto& item : paths) std::filesystem::remove(item.second);
        });
    return paths.emplace(side, path).first->second;
}

uint64_t residentBytes()
{
    FILE* f = fopen("/proc/self/statm", "r");
    if (!f) return 0;
    unsigned long size = 0, resident = 0;
    if (fscanf(f, "%lu %lu", &size, &resident) != 2) resident = 0;
    fclose(f);
    return uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
}

uint64_t heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return uint64_t(info.uordblks) + uint64_t(info.hblkhd);
}

uint64_t memUsed(PtexCache* cache)
{
    PtexCache::Stats stats;
    cache->getStats(stats);
    return stats.memUsed;
}

// Memory of an opened texture: what the process grew by across PtexCache::get (resident pages
// and heap in use), and what the cache counts for it.
void BM_OpenMemory(benchmark::State& state)
{
    const int side = int(state.range(0));
    const std::string& path = gridFile(side);
    const double faces = double(side) * side;
    double rss = 0, heap = 0, used = 0;
    for (auto _ : state) {
        malloc_trim(0);
        PtexCache* cache = PtexCache::create(0, kSmallCache);
        const uint64_t emptyUsed = memUsed(cache);
        const uint64_t rssBefore = residentBytes(), heapBefore = heapBytes();
        Ptex::String error;
        PtexTexture* texture = cache->get(path.c_str(), error);
        if (!texture) {
            state.SkipWithError(error.c_str());
            cache->release();
            break;
        }
        rss = double(residentBytes() - rssBefore);
        heap = double(heapBytes() - heapBefore);
        used = double(memUsed(cache) - emptyUsed);
        texture->release();
        cache->release();
    }
    state.counters["rss_B/face"] = rss / faces;
    state.counters["heap_B/face"] = heap / faces;
    state.counters["memUsed_B/face"] = used / faces;
}
BENCHMARK(BM_OpenMemory)->Arg(128)->Arg(384)->Arg(512)->Iterations(3)->Unit(benchmark::kMillisecond);

// One point lookup at the centre of every face; the texture is opened afresh for each pass, so
// every face is read and decoded once. Before each pass the heap gives its free memory back to
// the system, so that every pass finds the process as a first pass does (the memory for the
// decoded faces still to be mapped) rather than the pages the previous pass freed.
void BM_PointPassFirst(benchmark::State& state)
{
    const int side = int(state.range(0));
    const std::string& path = gridFile(side);
    const int faces = side * side;
    float sum = 0;
    for (auto _ : state) {
        state.PauseTiming();
        malloc_trim(0);
        PtexCache* cache = PtexCache::create(0, 0);
        Ptex::String error;
        PtexTexture* texture = cache->get(path.c_str(), error);
        PtexFilter* filter =
            texture ? PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_point)) : nullptr;
        state.ResumeTiming();
        if (!filter) {
            state.SkipWithError(error.c_str());
            if (texture) texture->release();
            cache->release();
            break;
        }
        for (int f = 0; f < faces; ++f) {
            float rgb[3];
            filter->eval(rgb, 0, 3, f, 0.5f, 0.5f, 0, 0, 0, 0);
            sum += rgb[1];
        }
        state.PauseTiming();
        filter->release();
        texture->release();
        cache->release();
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["ns/face"] = benchmark::Counter(
        double(faces) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PointPassFirst)->Arg(128)->Arg(384)->Arg(512)->Unit(benchmark::kMillisecond);

// The same lookups on a texture whose faces are all resident already.
void BM_PointPassResident(benchmark::State& state)
{
    const int side = int(state.range(0));
    const std::string& path = gridFile(side);
    const int faces = side * side;
    PtexCache* cache = PtexCache::create(0, 0);
    Ptex::String error;
    PtexTexture* texture = cache->get(path.c_str(), error);
    PtexFilter* filter = texture ? PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_point)) : nullptr;
    if (!filter) {
        state.SkipWithError(error.c_str());
        if (texture) texture->release();
        cache->release();
        return;
    }
    float sum = 0;
    for (int f = 0; f < faces; ++f) {
        float rgb[3];
        filter->eval(rgb, 0, 3, f, 0.5f, 0.5f, 0, 0, 0, 0);
    }
    for (auto _ : state) {
        for (int f = 0; f < faces; ++f) {
            float rgb[3];
            filter->eval(rgb, 0, 3, f, 0.5f, 0.5f, 0, 0, 0, 0);
            sum += rgb[1];
        }
    }
    benchmark::DoNotOptimize(sum);
    state.counters["ns/face"] = benchmark::Counter(
        double(faces) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    filter->release();
    texture->release();
    cache->release();
}
BENCHMARK(BM_PointPassResident)->Arg(128)->Arg(384)->Arg(512)->Unit(benchmark::kMillisecond);

// Random bilinear lookups through an 8 MB cache, starting empty: most faces are evicted again
// before they are used a second time, so this measures the evicting load path. memUsed is
// sampled every 1000 lookups; peakMemUsed is the cache's own figure.
void BM_RandomBilinearSmallCache(benchmark::State& state)
{
    const int side = int(state.range(0));
    const std::string& path = gridFile(side);
    const unsigned faces = unsigned(side * side);
    double peak = 0, sampledMax = 0, limitBase = 0, reads = 0;
    float sum = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PtexCache* cache = PtexCache::create(0, kSmallCache);
        Ptex::String error;
        PtexTexture* texture = cache->get(path.c_str(), error);
        PtexFilter* filter =
            texture ? PtexFilter::getFilter(texture, PtexFilter::Options(PtexFilter::f_bilinear)) : nullptr;
        if (!filter) {
            state.SkipWithError(error.c_str());
            if (texture) texture->release();
            cache->release();
            break;
        }
        limitBase = double(memUsed(cache));
        uint64_t seed = 0x9e3779b97f4a7c15ull;
        state.ResumeTiming();
        for (int i = 0; i < kRandomLookups; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            const unsigned face = unsigned(seed >> 33) % faces;
            const float u = float((seed >> 8) & 0xffff) / 65536.f, v = float((seed >> 40) & 0xffff) / 65536.f;
            float rgb[3];
            filter->eval(rgb, 0, 3, int(face), u, v, kBilinearWidth, 0, 0, kBilinearWidth);
            sum += rgb[0];
            if (i % 1000 == 999) {
                state.PauseTiming();
                sampledMax = std::max(sampledMax, double(memUsed(cache)));
                state.ResumeTiming();
            }
        }
        state.PauseTiming();
        PtexCache::Stats stats;
        cache->getStats(stats);
        peak = std::max(peak, double(stats.peakMemUsed));
        reads = double(stats.blockReads);
        filter->release();
        texture->release();
        cache->release();
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["us/lookup"] = benchmark::Counter(
        double(kRandomLookups) * 1e-6, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peakMemUsed_MB"] = peak / double(1 << 20);
    state.counters["maxMemUsed_MB"] = sampledMax / double(1 << 20);
    state.counters["openMemUsed_MB"] = limitBase / double(1 << 20);
    state.counters["reads/lookup"] = reads / double(kRandomLookups);
}
BENCHMARK(BM_RandomBilinearSmallCache)->Arg(128)->Arg(384)->Arg(512)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
