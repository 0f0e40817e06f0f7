#include "LibDesc.h"

#include "UserPluginDesc.h"

#include <tarsk/PluginRegistry.h>

const char* LibDesc::getName() { return "TexPtex"; }

const char* LibDesc::getDescription() { return "Ptex texture for Tarsk"; }

int32_t LibDesc::registerPlugins(PluginRegistry* registry)
{
    if (registry) {
        try {
            registry->registerPlugin(texPtexPluginDesc());
        } catch (...) {
            // The host's registry failed; there is nothing the library can do about it.
        }
    }
    return 1;
}
