#include "PointEvaluation.h"

#include <tarsk/TextureInterface.h>

#include <thread>

namespace tarsk::host {

namespace {

TUtils::Vector3f toFloat(const Vec3& v)
{
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

}  // namespace

TUtils::ShadingContext makeContext(const ShadingPoint& p, PluginBase* geometry, const TUtils::ShadingThread* thread)
{
    TUtils::ShadingContext context;
    context.thread = thread;
    context.flags = p.flags;
    context.cacheSlot = p.cacheSlot;
    context.cacheKey = p.cacheKey;
    context.geometryObject = geometry;
    context.hitPoint = {p.hitPoint.x, p.hitPoint.y, p.hitPoint.z};
    context.hitReference = {p.hitReference.x, p.hitReference.y, p.hitReference.z};
    context.correctionAxis = toFloat(p.correctionAxis);
    context.faceIndex = p.faceIndex;
    context.weightA = p.weightA;
    context.weightB = p.weightB;
    context.triOrigin = toFloat(p.triOrigin);
    context.triEdgeA = toFloat(p.triEdgeA);
    context.triEdgeB = toFloat(p.triEdgeB);
    context.dPdx = toFloat(p.dPdx);
    context.dPdy = toFloat(p.dPdy);
    return context;
}

std::vector<TUtils::Color> evaluatePoints(TUtils::TextureInterface& texture, PluginBase* geometry,
                                          const std::vector<ShadingPoint>& points, int numThreads)
{
    std::vector<TUtils::Color> colors(points.size(), TUtils::Color{0, 0, 0, 0});
    std::vector<std::vector<size_t>> byThread(static_cast<size_t>(numThreads));
    for (size_t i = 0; i < points.size(); ++i) byThread[static_cast<size_t>(points[i].thread)].push_back(i);

    auto work = [&](int index) {
        TUtils::ShadingThread record;
        record.threadId = index;
        record.threadIndex = index;
        for (size_t i : byThread[static_cast<size_t>(index)]) {
            TUtils::ShadingContext context = makeContext(points[i], geometry, &record);
            colors[i] = texture.evalColor(context);
        }
    };
    std::vector<std::thread> threads;
    for (int index = 1; index < numThreads; ++index)
        if (!byThread[static_cast<size_t>(index)].empty()) threads.emplace_back(work, index);
    work(0);  // index 0 runs on the calling thread, alongside the others
    for (std::thread& t : threads) t.join();
    return colors;
}

}  // namespace tarsk::host
