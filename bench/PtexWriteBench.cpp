// bench-links: tarsk_ptex
// Writing Ptex files: whole-file throughput (MB/s of texels given to writeFace, including level-0
// encoding, reductions, compression and file assembly) for a few data types and face sizes, and
// incremental face records.
#include <Ptexture.h>

#include <benchmark/benchmark.h>
#include <unistd.h>

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

}  // namespace

BENCHMARK_MAIN();
