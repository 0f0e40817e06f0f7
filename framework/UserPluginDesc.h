// UserPluginDesc: the plug-in descriptor of the TexPtex texture type (id 20100607000), the
// factory of its instances. It holds the type's parameter table, TexPtexParams.
#pragma once

#include <tarsk/TarskPluginDesc.h>

#include <cstdint>

class UserPluginDesc : public TUtils::TarskPluginDesc {
public:
    static constexpr uint64_t kPluginId = 20100607000ull;  // 0x4AE16EC18

    explicit UserPluginDesc(TUtils::TarskParameterListDesc* params) noexcept : TarskPluginDesc(params) {}

    uint64_t getPluginID() override;
    // A new TexPtex's plug-in part; null when none could be made. `host` is not used.
    PluginBase* newPlugin(TUtils::TarskPluginHost* host) override;
    // Destroys an instance through its virtual destructor; null is ignored.
    void deletePlugin(PluginBase* plugin) override;
    // 1 for the texture and the plug-in interface ids (all 64 bits compared), else 0.
    int32_t supportsInterface(uint64_t id) override;
    const char* getName() override;
};
