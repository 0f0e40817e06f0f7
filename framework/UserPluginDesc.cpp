#include "UserPluginDesc.h"

#include "TexPtex.h"

#include <new>

uint64_t UserPluginDesc::getPluginID() { return kPluginId; }

PluginBase* UserPluginDesc::newPlugin(TUtils::TarskPluginHost*)
{
    try {
        TexPtex* texture = new (std::nothrow) TexPtex(this);
        return texture ? static_cast<Plugin*>(texture) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

void UserPluginDesc::deletePlugin(PluginBase* plugin) { delete plugin; }

int32_t UserPluginDesc::supportsInterface(uint64_t id)
{
    return id == TUtils::TextureInterface::kInterfaceId || id == TUtils::TarskPluginInterface::kInterfaceId ? 1 : 0;
}

const char* UserPluginDesc::getName() { return "TexPtex"; }
