#include <tarsk/PluginRegistry.h>

#include <algorithm>

int32_t PluginRegistry::registerPlugin(PluginDesc* desc)
{
    if (!desc || std::find(descs.begin(), descs.end(), desc) != descs.end()) return 0;
    try {
        descs.push_back(desc);
    } catch (...) {
        return 0;
    }
    return 1;
}
