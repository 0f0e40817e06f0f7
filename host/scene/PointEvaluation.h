// PointEvaluation: evaluating shading points on a texture the way a render does: each point's
// ShadingContext filled from its POINTS row, points of one render-thread index in order on one
// thread, different indices on concurrent threads.
#pragma once

#include "ShadingPoint.h"

#include <tarsk/Color.h>
#include <tarsk/ShadingContext.h>

#include <vector>

class PluginBase;

namespace TUtils {
class TextureInterface;
}

namespace tarsk::host {

// The context a ray tracer would hand the texture for `point`, hit on `geometry`.
TUtils::ShadingContext makeContext(const ShadingPoint& point, PluginBase* geometry,
                                   const TUtils::ShadingThread* thread);

// Colours of all points in input order. Every point's thread index must be below `numThreads`.
std::vector<TUtils::Color> evaluatePoints(TUtils::TextureInterface& texture, PluginBase* geometry,
                                          const std::vector<ShadingPoint>& points, int numThreads);

}  // namespace tarsk::host
