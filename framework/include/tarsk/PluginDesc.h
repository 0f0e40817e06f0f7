// PluginDesc and PluginLibDesc: the descriptors through which a host learns a plug-in library.
// A PluginLibDesc names the library and registers its PluginDescs; a PluginDesc describes one
// plug-in type and is the factory of its instances.
#pragma once

#include <tarsk/PluginBase.h>

#include <cstdint>

class PluginRegistry;
namespace TUtils {
class TarskPluginHost;
}

class PluginDesc : public PluginBase {
public:
    virtual uint64_t getPluginID() = 0;
    // Creates an instance and answers its plug-in part, or null when none could be made.
    virtual PluginBase* newPlugin(TUtils::TarskPluginHost* host) = 0;
    // Destroys an instance made by newPlugin; null is ignored.
    virtual void deletePlugin(PluginBase* plugin) = 0;
    virtual int32_t supportsInterface(uint64_t id) = 0;
    virtual const char* getName() = 0;
    virtual void registerParameters(TUtils::TarskPluginHost* host);
    virtual void unregisterParameters(TUtils::TarskPluginHost* host);
    // Reserved for descriptor extensions a later host may look for; null means none.
    virtual void* getExtension();
};

class PluginLibDesc : public PluginBase {
public:
    virtual const char* getName() = 0;
    virtual const char* getDescription() = 0;
    // Hands every plug-in descriptor of the library to `registry`; answers 1.
    virtual int32_t registerPlugins(PluginRegistry* registry) = 0;
};
