// bench-links: tarsk_ptex
// Reading Ptex files: open time, first-touch face loads (decoded MB/s), and getData/getPixel on
// resident data, single-threaded and on two threads sharing one texture.
#include <Ptexture.h>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int kFaces = 1024;
constexpr int kLog2 = 5;  // 32 x 32 texels, uint8 RGB: 3 KiB decoded per face
constexpr int kChannels = 3;

// A quad texture written once per process into the temporary folder.
const std::string& benchFile()
{
    static const std::string path = [] {
        std::string p =
            (std::filesystem::temp_directory_path() / ("tarsk-ptex-read-bench-" + std::to_string(getpid()) + ".ptx"))
                .string();
        Ptex::String error;
        PtexPtr<PtexWriter> writer(
            PtexWriter::open(p.c_str(), Ptex::mt_quad, Ptex::dt_uint8, kChannels, -1, kFaces, error));
        if (!writer) {
            fprintf(stderr, "cannot write %s: %s\n", p.c_str(), error.c_str());
            return p;
        }
        const int n = 1 << kLog2;
        std::vector<uint8_t> texels(size_t(n) * n * kChannels);
        for (int f = 0; f < kFaces; ++f) {
            for (size_t i = 0; i < texels.size(); ++i) texels[i] = uint8_t((i * 7 + f * 13 + (i / 96) * 5) & 0xff);
            writer->writeFace(f, Ptex::FaceInfo(Ptex::Res(kLog2, kLog2)), texels.data());
        }
        writer->close(error);
        std::atexit([] { std::filesystem::remove(benchFile()); });
        return p;
    }();
    return path;
}

void BM_Open(benchmark::State& state)
{
    const std::string& path = benchFile();
    for (auto _ : state) {
        Ptex::String error;
        PtexTexture* tx = PtexTexture::open(path.c_str(), error);
        if (!tx) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(tx->numFaces());
        tx->release();
    }
    state.counters["faces"] = kFaces;
}
BENCHMARK(BM_Open)->Unit(benchmark::kMicrosecond);

// Decoding every face once (read, inflate, undo the difference coding, interleave).
void BM_FirstTouchLoad(benchmark::State& state)
{
    const std::string& path = benchFile();
    const size_t faceBytes = size_t(kChannels) << (2 * kLog2);
    for (auto _ : state) {
        state.PauseTiming();
        Ptex::String error;
        PtexPtr<PtexTexture> tx(PtexTexture::open(path.c_str(), error));
        state.ResumeTiming();
        for (int f = 0; f < kFaces; ++f) {
            PtexPtr<PtexFaceData> data(tx->getData(f));
            benchmark::DoNotOptimize(data->getData());
        }
        state.PauseTiming();
        tx.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFaces * int64_t(faceBytes));
}
BENCHMARK(BM_FirstTouchLoad)->Unit(benchmark::kMillisecond);

PtexCache* sharedCache()
{
    static PtexCache* cache = PtexCache::create(0, 0);
    return cache;
}

// A handle per lookup plus one converted texel: the access pattern of a point filter.
void BM_ResidentGetDataGetPixel(benchmark::State& state)
{
    Ptex::String error;
    PtexTexture* tx = sharedCache()->get(benchFile().c_str(), error);
    if (!tx) {
        state.SkipWithError(error.c_str());
        return;
    }
    for (int f = 0; f < kFaces; ++f) tx->getData(f)->release();  // make everything resident
    unsigned seed = 12345u + unsigned(state.thread_index()) * 7919u;
    float pixel[kChannels];
    uint8_t raw[kChannels];
    for (auto _ : state) {
        seed = seed * 1664525u + 1013904223u;
        const int face = int(seed >> 8) % kFaces;
        const int u = int(seed >> 3) & 31, v = int(seed >> 13) & 31;
        PtexFaceData* data = tx->getData(face, Ptex::Res(kLog2, kLog2));
        data->getPixel(u, v, raw);
        data->release();
        tx->getPixel(face, u, v, pixel, 0, kChannels);
        benchmark::DoNotOptimize(pixel[0] + raw[0]);
    }
    state.SetItemsProcessed(state.iterations());
    tx->release();
}
BENCHMARK(BM_ResidentGetDataGetPixel)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
