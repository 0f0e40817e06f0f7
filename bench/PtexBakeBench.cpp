// bench-links: tarsk_bake
// Baking a Ptex file for a production-sized mesh, as ptex-bake does: a sphere of 124,848
// triangles and 62,426 vertices (a cube of 102 x 102 cells per side, each cell two triangles,
// pushed onto the sphere), the default checker procedural, uint8 RGB, on all cores. Each bake runs in a
// forked child, so that peak_rss is the child's whole peak resident set (mesh, layout, writer,
// texels; the few megabytes of this program at the fork included) as the kernel reports it.
#include "ObjMesh.h"
#include "PtexBaker.h"
#include "TexelSource.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using tarsk::host::ObjMesh;
using tarsk::host::Vec3;

ObjMesh triangleSphere(int cells)
{
    ObjMesh mesh;
    // Vertices of the cube's surface grid, shared along the cube's edges through a lookup.
    auto key = [cells](int x, int y, int z) { return (size_t(x) * (cells + 1) + size_t(y)) * (cells + 1) + size_t(z); };
    std::vector<int32_t> index(size_t(cells + 1) * (cells + 1) * (cells + 1), -1);
    auto vertex = [&](int x, int y, int z) {
        int32_t& id = index[key(x, y, z)];
        if (id < 0) {
            Vec3 p{2.0 * x / cells - 1, 2.0 * y / cells - 1, 2.0 * z / cells - 1};
            id = int32_t(mesh.positions.size());
            mesh.positions.push_back(p / tarsk::host::length(p));
        }
        return id;
    };
    for (int axis = 0; axis < 3; ++axis)
        for (int side = 0; side < 2; ++side)
            for (int i = 0; i < cells; ++i)
                for (int j = 0; j < cells; ++j) {
                    int32_t c[4];
                    const int di[4] = {0, 1, 1, 0}, dj[4] = {0, 0, 1, 1};
                    for (int k = 0; k < 4; ++k) {
                        // Wound outwards: the far side runs its cells the other way round.
                        const int a = i + (side ? di[k] : dj[k]), b = j + (side ? dj[k] : di[k]);
                        const int w = side ? cells : 0;
                        c[k] = axis == 0 ? vertex(w, a, b) : axis == 1 ? vertex(b, w, a) : vertex(a, b, w);
                    }
                    mesh.addFace({c[0], c[1], c[2]});
                    mesh.addFace({c[0], c[2], c[3]});
                }
    return mesh;
}

void BM_BakeTriangleSphere(benchmark::State& state)
{
    const int resLog2 = int(state.range(0));
    const std::string path =
        (std::filesystem::temp_directory_path() / ("tarsk-bake-bench-" + std::to_string(getpid()) + ".ptx")).string();
    long peakKb = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = fork();
        if (child == 0) {
            int status = 0;
            try {
                ObjMesh mesh = triangleSphere(102);
                tarsk::bake::BakeOptions options;
                options.resLog2 = resLog2;
                auto source = tarsk::bake::makeProcedural("checker", {-1, -1, -1}, {1, 1, 1});
                tarsk::bake::bakePtex(mesh, *source, options, path);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "bake failed: %s\n", e.what());
                status = 1;
            }
            _exit(status);
        }
        int status = 0;
        rusage usage{};
        if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the bake failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        peakKb = std::max(peakKb, usage.ru_maxrss);
    }
    state.counters["peak_rss"] =
        benchmark::Counter(double(peakKb) * 1024, benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    std::error_code ec;
    state.counters["file_size"] = benchmark::Counter(double(std::filesystem::file_size(path, ec)),
                                                     benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
    std::filesystem::remove(path, ec);
}
BENCHMARK(BM_BakeTriangleSphere)->Arg(2)->Arg(4)->Arg(5)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
