// bench-links: tarsk_ptex bench_grid_workload bench_heap_counter
// Writing Ptex files: whole-file throughput (MB/s of texels given to writeFace, including level-0
// encoding, reductions, compression and file assembly) for a few data types and face sizes,
// incremental face records, and the production-scale grid of many small faces with the time
// per face and the writer's peak heap.
#include "GridWorkload.h"
#include "HeapCounter.h"

#include <Ptexture.h>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string scratchFile(const char* tag)
{
    return (std::filesystem::temp_directory_path() /
            ("tarsk-ptex-write-bench-" + std::string(tag) + "-" + std::to_string(getpid()) + ".ptx"))
        .string();
}

// Smooth texels with some noise, so that compression does real work.
std::vector<uint8_t> makeTexels(Ptex::DataType dt, int nchannels, int log2, int seed)
{
    const int n = 1 << log2;
    std::vector<float> values(size_t(n) * n * nchannels);
    uint32_t state = uint32_t(seed) * 2654435761u + 1;
    for (size_t i = 0; i < values.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const size_t texel = i / size_t(nchannels);
        values[i] = 0.5f + 0.4f * float((texel % size_t(n)) + texel / size_t(n)) / float(2 * n) +
                    0.02f * float(state >> 24) / 255.0f;
    }
    std::vector<uint8_t> texels(values.size() * size_t(Ptex::DataSize(dt)));
    Ptex::ConvertFromFloat(texels.data(), values.data(), dt, int(values.size()));
    return texels;
}

void BM_WriteFile(benchmark::State& state)
{
    const Ptex::DataType dt = Ptex::DataType(state.range(0));
    const int log2 = int(state.range(1));
    const int nfaces = int(state.range(2));
    const int nchannels = 3;
    const std::string path = scratchFile("full");
    std::vector<std::vector<uint8_t>> faces;
    for (int f = 0; f < 8; ++f) faces.push_back(makeTexels(dt, nchannels, log2, f));
    for (auto _ : state) {
        Ptex::String error;
        PtexWriter* writer = PtexWriter::open(path.c_str(), Ptex::mt_quad, dt, nchannels, -1, nfaces, error);
        for (int f = 0; f < nfaces; ++f)
            writer->writeFace(f, Ptex::FaceInfo(Ptex::Res(int8_t(log2), int8_t(log2))), faces[size_t(f % 8)].data());
        if (!writer->close(error)) state.SkipWithError(error.c_str());
        writer->release();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * nfaces * int64_t(faces[0].size()));
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteFile)
    ->Args({Ptex::dt_uint8, 6, 256})
    ->Args({Ptex::dt_uint16, 6, 256})
    ->Args({Ptex::dt_half, 6, 256})
    ->Args({Ptex::dt_float, 6, 256})
    ->Args({Ptex::dt_uint8, 9, 4})
    ->Unit(benchmark::kMillisecond);

void BM_IncrementalFaceRecords(benchmark::State& state)
{
    const std::string path = scratchFile("incr");
    const int log2 = 6, nfaces = 64;
    std::vector<uint8_t> texels = makeTexels(Ptex::dt_uint8, 3, log2, 1);
    for (auto _ : state) {
        state.PauseTiming();
        Ptex::String error;
        PtexWriter* base = PtexWriter::open(path.c_str(), Ptex::mt_quad, Ptex::dt_uint8, 3, -1, nfaces, error);
        base->close(error);
        base->release();
        state.ResumeTiming();
        PtexWriter* writer = PtexWriter::edit(path.c_str(), true, Ptex::mt_quad, Ptex::dt_uint8, 3, -1, nfaces, error);
        for (int f = 0; f < nfaces; ++f)
            writer->writeFace(f, Ptex::FaceInfo(Ptex::Res(int8_t(log2), int8_t(log2))), texels.data());
        if (!writer->close(error)) state.SkipWithError(error.c_str());
        writer->release();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * nfaces * int64_t(texels.size()));
    std::filesystem::remove(path);
}
BENCHMARK(BM_IncrementalFaceRecords)->Unit(benchmark::kMillisecond);

// The grid workload of side x side 8x8 uint8 RGB faces with mip-maps, written in face order
// (texel generation included, a small part). face_time is the write time per face, close
// included; peak_heap is the highest heap use during the write above what was live before it,
// counted over every allocation of the process (see HeapCounter.h), and heap_per_face that
// peak divided by the face count.
void BM_WriteGrid(benchmark::State& state)
{
    bench::GridWorkload grid;
    grid.side = int(state.range(0));
    const std::string path = scratchFile("grid");
    int64_t peak = 0;
    for (auto _ : state) {
        const int64_t before = bench::heapLiveBytes();
        bench::heapResetPeak();
        std::string error;
        if (!bench::writeGridFile(grid, path, error)) state.SkipWithError(error.c_str());
        peak = std::max(peak, bench::heapPeakBytes() - before);
    }
    const double nfaces = double(grid.numFaces());
    state.counters["faces"] = nfaces;
    state.counters["face_time"] =
        benchmark::Counter(nfaces, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["peak_heap"] =
        benchmark::Counter(double(peak), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    state.counters["heap_per_face"] = double(peak) / nfaces;
    state.counters["file_bytes_per_face"] = double(std::filesystem::file_size(path)) / nfaces;
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteGrid)->Arg(128)->Arg(384)->Arg(512)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
