#include "Renderer.h"

#include "HitShading.h"
#include "PointEvaluation.h"
#include "Progress.h"
#include "SceneGeometry.h"

#include <tarsk/ShadingContext.h>
#include <tarsk/TextureInterface.h>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <unordered_map>

namespace tarsk::render {

void RenderStats::add(const RenderStats& o)
{
    seconds += o.seconds;
    rays += o.rays;
    evaluations += o.evaluations;
    cacheHits += o.cacheHits;
    cacheLookups += o.cacheLookups;
    evalSeconds += o.evalSeconds;
}

namespace {

constexpr int kTileSize = 16;
constexpr int kMaxLayers = 32;                // surfaces a ray passes through before it stops
constexpr double kOpaqueEnough = 1.0 / 1024;  // transmittance below which further layers cannot show

// Per render thread: its context record, its mirror of the texture's cache keys and its counters.
struct alignas(64) ThreadState {
    TUtils::ShadingThread record;
    std::vector<uint32_t> cacheMirror;
    RenderStats stats;
};

// A stable hash-based jitter so that renders are reproducible.
double jitter(uint32_t a, uint32_t b, uint32_t c)
{
    uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return (h & 0xFFFFFF) / double(0x1000000);
}

}  // namespace

bake::Image renderFrame(const host::Scene& scene, host::SceneSession& session, const RenderSettings& settings,
                        double time, RenderStats& totals, std::vector<DumpedPoint>* dump)
{
    auto start = std::chrono::steady_clock::now();
    SceneGeometry geometry(scene, time);
    Camera camera(scene.camera, settings.width, settings.height);
    bake::Image image(settings.width, settings.height);

    std::vector<ThreadState> threads(static_cast<size_t>(settings.threads));
    for (int i = 0; i < settings.threads; ++i) {
        threads[i].record.threadId = i;
        threads[i].record.threadIndex = i;
        threads[i].cacheMirror.assign(kCacheSlots, 0);
    }
    // Pixels whose first shading point is recorded: a grid spread evenly over the image.
    std::unordered_map<int64_t, size_t> dumpSlot;
    if (dump && settings.dumpPoints > 0) {
        int count = settings.dumpPoints;
        int gridX =
            std::max(1, static_cast<int>(std::lround(std::sqrt(double(count) * settings.width / settings.height))));
        int gridY = (count + gridX - 1) / gridX;
        dump->assign(static_cast<size_t>(count), DumpedPoint());
        for (int i = 0; i < count; ++i) {
            const int column = i % gridX, row = i / gridX;
            int x = static_cast<int>((column + 0.5) * settings.width / gridX);
            int y = static_cast<int>((row + 0.5) * settings.height / gridY);
            (*dump)[i].x = std::min(x, settings.width - 1);
            (*dump)[i].y = std::min(y, settings.height - 1);
            // A pixel met twice keeps its first slot; the second stays empty and is not written.
            dumpSlot.emplace(static_cast<int64_t>((*dump)[i].y) * settings.width + (*dump)[i].x,
                             static_cast<size_t>(i));
        }
    }

    const int tilesX = (settings.width + kTileSize - 1) / kTileSize;
    const int tilesY = (settings.height + kTileSize - 1) / kTileSize;
    const int strata = std::max(1, static_cast<int>(std::lround(std::sqrt(settings.spp))));
    // Differentials cover the footprint of one sample, not of the whole pixel.
    const double differentialScale = 1.0 / std::sqrt(static_cast<double>(settings.spp));
    Progress progress("render", tilesX * tilesY, settings.progress);

    auto renderTile = [&](int tile) {
        int index = tbb::this_task_arena::current_thread_index();
        if (index < 0 || index >= settings.threads) index = 0;  // the arena never runs more workers than threads
        ThreadState& state = threads[static_cast<size_t>(index)];
        int x0 = (tile % tilesX) * kTileSize, y0 = (tile / tilesX) * kTileSize;
        for (int y = y0; y < std::min(y0 + kTileSize, settings.height); ++y)
            for (int x = x0; x < std::min(x0 + kTileSize, settings.width); ++x) {
                double sum[3] = {0, 0, 0};
                int64_t pixelIndex = static_cast<int64_t>(y) * settings.width + x;
                for (int s = 0; s < settings.spp; ++s) {
                    double sx = 0.5, sy = 0.5;
                    if (settings.spp > 1) {
                        // Stratum (column, row) of an strata x strata grid, jittered inside.
                        const int cell = s % (strata * strata);
                        const int column = cell % strata, row = cell / strata;
                        sx = (column + jitter(x, y, 2 * s)) / strata;
                        sy = (row + jitter(x, y, 2 * s + 1)) / strata;
                    }
                    CameraRay ray = camera.ray(x + sx, y + sy);
                    double color[3] = {0, 0, 0};
                    double transmittance = 1.0;
                    float tNear = 0.0f;
                    for (int layer = 0; layer < kMaxLayers && transmittance > kOpaqueEnough; ++layer) {
                        ++state.stats.rays;
                        Hit hit = geometry.intersect(ray.origin, ray.direction, tNear, 1e30f);
                        if (hit.object < 0) break;
                        tNear = hit.t * (1.0f + 1e-5f) + 1e-6f;
                        host::ShadingPoint point;
                        point.thread = index;
                        if (!shadingPointForHit(geometry, scene.objects[hit.object].objectToWorld, ray,
                                                differentialScale, hit, settings.correctHits, point))
                            continue;
                        TUtils::ShadingContext context =
                            host::makeContext(point, session.geometryObject(hit.object), &state.record);
                        if (!settings.correctHits) {
                            ++state.stats.cacheLookups;
                            uint32_t& mirrored = state.cacheMirror[static_cast<size_t>(point.cacheSlot)];
                            state.stats.cacheHits += mirrored == point.cacheKey;
                            mirrored = point.cacheKey;
                        }
                        auto evalStart = std::chrono::steady_clock::now();
                        TUtils::Color c = session.texture(hit.object)->evalColor(context);
                        state.stats.evalSeconds +=
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - evalStart).count();
                        ++state.stats.evaluations;
                        if (layer == 0 && s == 0 && !dumpSlot.empty()) {
                            auto found = dumpSlot.find(pixelIndex);
                            if (found != dumpSlot.end()) {
                                DumpedPoint& d = (*dump)[found->second];
                                d.object = hit.object;
                                d.point = point;
                                d.color = c;
                            }
                        }
                        double light = 1.0;
                        if (!scene.unlit) {
                            // The shading normal on the side of the geometric normal that the ray sees.
                            host::Vec3 n = geometry.shadingNormal(hit);
                            if (host::dot(n, hit.normal) < 0) n = -n;
                            if (host::dot(hit.normal, ray.direction) > 0) n = -n;
                            host::Vec3 toLight =
                                scene.headlight ? -host::normalize(ray.direction) : -scene.lightDirection;
                            light = scene.ambient + (1.0 - scene.ambient) * std::max(0.0, host::dot(n, toLight));
                        }
                        double alpha = std::clamp(static_cast<double>(c.a), 0.0, 1.0);
                        if (!std::isfinite(c.a) || !scene.objects[hit.object].alphaCoverage) alpha = 1.0;
                        const float rgb[3] = {c.r, c.g, c.b};
                        for (int k = 0; k < 3; ++k)
                            color[k] += transmittance * alpha * (std::isfinite(rgb[k]) ? rgb[k] : 0.0) * light;
                        transmittance *= 1.0 - alpha;
                    }
                    for (int k = 0; k < 3; ++k) sum[k] += color[k] + transmittance * scene.background[k];
                }
                float* out = image.pixel(x, y);
                for (int k = 0; k < 3; ++k) out[k] = static_cast<float>(sum[k] / settings.spp);
                out[3] = 1.0f;
            }
        progress.advance();
    };

    tbb::task_arena arena(settings.threads);
    arena.execute([&] {
        tbb::parallel_for(tbb::blocked_range<int>(0, tilesX * tilesY, 1), [&](const tbb::blocked_range<int>& range) {
            for (int tile = range.begin(); tile != range.end(); ++tile) renderTile(tile);
        });
    });
    progress.finish();

    RenderStats frame;
    for (const ThreadState& t : threads) frame.add(t.stats);
    frame.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    totals.add(frame);
    return image;
}

}  // namespace tarsk::render
