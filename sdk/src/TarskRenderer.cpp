#include <tarsk/TarskRenderer.h>

namespace TUtils {

TarskRenderer::TarskRenderer(int32_t numThreads, double frameTime, TarskMessageLog* messageLog) noexcept
{
    globals.numThreads = numThreads < 1 ? 1 : numThreads;
    globals.messageLog = messageLog;
    frame.frameTime = frameTime;
}

}  // namespace TUtils
