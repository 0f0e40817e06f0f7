// PluginInstance: a host's handle on one plug-in instance, made by its descriptor's newPlugin and
// given back through deletePlugin when the handle goes away. It finds the instance's Tarsk
// interfaces by id.
#pragma once

#include <tarsk/PluginDesc.h>
#include <tarsk/TarskPluginInterface.h>
#include <tarsk/TextureInterface.h>

class PluginInstance {
public:
    // Asks `desc` for a new instance; valid() tells whether one was made.
    explicit PluginInstance(PluginDesc& desc, TUtils::TarskPluginHost* host = nullptr);
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;
    ~PluginInstance();

    bool valid() const noexcept { return object != nullptr; }
    PluginBase* plugin() const noexcept { return object; }
    // Null when the instance does not offer the interface.
    TUtils::TarskPluginInterface* pluginInterface() const;
    TUtils::TextureInterface* texture() const;

private:
    PluginDesc& desc;
    PluginBase* object;
};
