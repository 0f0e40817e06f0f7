// TarskPlugin and TarskTexture: the object layouts of Tarsk plug-in instances. A TarskPlugin is a
// plug-in part followed by a TarskPluginInterface part; a TarskTexture adds a TextureInterface
// part. Deleting the object through any part's virtual destructor frees the whole object.
#pragma once

#include <tarsk/Plugin.h>
#include <tarsk/TarskPluginInterface.h>
#include <tarsk/TextureInterface.h>

namespace TUtils {

class TarskPlugin : public Plugin, public TarskPluginInterface {
public:
    explicit TarskPlugin(TarskPluginDesc* desc) noexcept : TarskPluginInterface(desc) {}

    // Id 0x7776FFFF: the plug-in interface part; otherwise the added interfaces.
    PluginInterface* getInterface(uint64_t id) override;
    PluginDesc* getPluginDesc() override;
    // The plug-in part of this object.
    PluginBase* getPlugin() override;
};

class TarskTexture : public TarskPlugin, public TextureInterface {
public:
    explicit TarskTexture(TarskPluginDesc* desc) noexcept : TarskPlugin(desc) {}

    // Id 0x77780002: the texture interface part; 0x7776FFFF: the plug-in interface part;
    // otherwise the added interfaces.
    PluginInterface* getInterface(uint64_t id) override;
    // From either interface part: the plug-in part of this object.
    PluginBase* getPlugin() override;
};

}  // namespace TUtils
