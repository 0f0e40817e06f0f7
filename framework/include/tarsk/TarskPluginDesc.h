// TarskPluginDesc: a plug-in descriptor of a Tarsk plug-in type, holding the type's parameter
// table (not owned: it is a static object of the library) and registering both with the host.
#pragma once

#include <tarsk/PluginDesc.h>

namespace TUtils {

class TarskParameterListDesc;

class TarskPluginDesc : public PluginDesc {
public:
    explicit TarskPluginDesc(TarskParameterListDesc* paramListDesc) noexcept : paramListDesc(paramListDesc) {}

    // Registers this descriptor, then its parameter table, with `host`; null does nothing.
    void registerParameters(TarskPluginHost* host) override;
    // Only unregisters this descriptor from `host`; null does nothing.
    void unregisterParameters(TarskPluginHost* host) override;

    TarskParameterListDesc* getParamListDesc() const noexcept { return paramListDesc; }

private:
    TarskParameterListDesc* paramListDesc;
};

}  // namespace TUtils
