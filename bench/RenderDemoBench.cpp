// The built-in demo rendered at 1280 x 720 with 4 samples per pixel through the real plug-in:
// time per frame, rays and shading evaluations per second, and the share of thread time spent
// inside evalColor, for 1 and 2 render threads and for each filter type set on every object.
// bench-links: tarsk_render
#include "DemoScene.h"
#include "Renderer.h"
#include "Scene.h"
#include "SceneSession.h"

#include <benchmark/benchmark.h>

#include <limits.h>
#include <unistd.h>
#include <filesystem>

namespace {

using namespace tarsk;

std::string pluginPath()
{
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    buf[n > 0 ? n : 0] = '\0';
    // build/bench/bench_RenderDemoBench -> build/texptex/tarsk_TexPtex.so
    return (std::filesystem::path(buf).parent_path().parent_path() / "texptex" / "tarsk_TexPtex.so").string();
}

const host::Scene& demoScene()
{
    static const host::Scene scene = [] {
        std::string dir = (std::filesystem::temp_directory_path() / "tarsk-render-bench").string();
        return host::loadScene(render::buildDemoScene(dir));
    }();
    return scene;
}

// state.range(0): render threads; state.range(1): filter type for every object, -1 keeps the demo's.
void renderDemo(benchmark::State& state)
{
    host::Scene scene = demoScene();
    if (state.range(1) >= 0)
        for (host::SceneObject& object : scene.objects)
            for (host::ParamSetting& setting : object.textureParams)
                if (setting.name == "filter_type")
                    for (auto& key : setting.keys) key.second = state.range(1);
    render::RenderSettings settings;
    settings.width = 1280;
    settings.height = 720;
    settings.spp = 4;
    settings.threads = static_cast<int>(state.range(0));
    settings.progress = false;
    host::SceneSession session(scene, pluginPath(), settings.threads, false);
    session.renderBegin();
    render::RenderStats total;
    for (auto _ : state) {
        session.frameBegin(scene.frameTime);
        render::RenderStats frame;
        bake::Image image = render::renderFrame(scene, session, settings, scene.frameTime, frame, nullptr);
        session.frameEnd();
        benchmark::DoNotOptimize(image.rgba.data());
        state.SetIterationTime(frame.seconds);
        total.add(frame);
    }
    session.renderEnd();
    state.counters["rays_per_s"] = benchmark::Counter(static_cast<double>(total.rays) / total.seconds);
    state.counters["evals_per_s"] = benchmark::Counter(static_cast<double>(total.evaluations) / total.seconds);
    state.counters["evalColor_share_pct"] = 100.0 * total.evalSeconds / (total.seconds * settings.threads);
}

BENCHMARK(renderDemo)
    ->ArgNames({"threads", "filter"})
    ->ArgsProduct({{1, 2}, {-1, 0, 1, 2, 3, 4}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
