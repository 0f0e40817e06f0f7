// PluginRegistry: what a plug-in library's registerPlugins hands its plug-in descriptors to. The
// host's loader gives each library a registry of its own and registers what it collected.
#pragma once

#include <cstdint>
#include <vector>

class PluginDesc;

class PluginRegistry {
public:
    // 1 when `desc` was taken; 0 for null or a descriptor already registered here.
    int32_t registerPlugin(PluginDesc* desc);
    const std::vector<PluginDesc*>& plugins() const noexcept { return descs; }

private:
    std::vector<PluginDesc*> descs;
};
