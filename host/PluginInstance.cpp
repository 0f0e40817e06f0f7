#include "PluginInstance.h"

PluginInstance::PluginInstance(PluginDesc& desc, TUtils::TarskPluginHost* host)
    : desc(desc), object(desc.newPlugin(host))
{}

PluginInstance::~PluginInstance()
{
    if (object) desc.deletePlugin(object);
}

TUtils::TarskPluginInterface* PluginInstance::pluginInterface() const
{
    // The id promises the type: an interface answering it is a TarskPluginInterface.
    PluginInterface* found = object ? object->getInterface(TUtils::TarskPluginInterface::kInterfaceId) : nullptr;
    return static_cast<TUtils::TarskPluginInterface*>(found);
}

TUtils::TextureInterface* PluginInstance::texture() const
{
    PluginInterface* found = object ? object->getInterface(TUtils::TextureInterface::kInterfaceId) : nullptr;
    return static_cast<TUtils::TextureInterface*>(found);
}
