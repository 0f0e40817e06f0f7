#include <tarsk/TarskPlugin.h>
#include <tarsk/TarskPluginDesc.h>

namespace TUtils {

PluginInterface* TarskPlugin::getInterface(uint64_t id)
{
    if (id == TarskPluginInterface::kInterfaceId) return static_cast<TarskPluginInterface*>(this);
    return PluginBase::getInterface(id);
}

PluginDesc* TarskPlugin::getPluginDesc() { return pluginDesc; }

PluginBase* TarskPlugin::getPlugin() { return static_cast<Plugin*>(this); }

PluginInterface* TarskTexture::getInterface(uint64_t id)
{
    if (id == TextureInterface::kInterfaceId) return static_cast<TextureInterface*>(this);
    return TarskPlugin::getInterface(id);
}

PluginBase* TarskTexture::getPlugin() { return static_cast<Plugin*>(this); }

}  // namespace TUtils
