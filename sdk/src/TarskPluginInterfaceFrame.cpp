// The host's part of TarskPluginInterface: its default frameBegin. Plug-ins that override
// frameBegin call this first, so the bound parameter members hold the frame's values.
#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskPluginInterface.h>
#include <tarsk/TarskRenderer.h>

namespace TUtils {

void TarskPluginInterface::frameBegin(TarskRenderer* renderer)
{
    if (!renderer || !paramList) return;
    try {
        paramList->setCurrentTime(renderer->frame.frameTime);
    } catch (...) {
        // Sampling keyed values allocates nothing; only a failing host log could get here.
    }
}

}  // namespace TUtils
