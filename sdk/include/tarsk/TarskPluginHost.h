// TarskPluginHost: the host's table of registered plug-in types. A descriptor registers itself
// (registerDesc) and then its parameter table (TarskParameterListDesc::registerParameters); host
// programs find types by name or id and create instances through the descriptor.
#pragma once

#include <cstdint>
#include <vector>

namespace TUtils {

class TarskPluginDesc;
class TarskParameterListDesc;

class TarskPluginHost {
public:
    struct Entry {
        TarskPluginDesc* desc;
        TarskParameterListDesc* params;  // null until the table is registered
    };

    // 1 when added; 0 for null or a descriptor already registered.
    int32_t registerDesc(TarskPluginDesc* desc);
    // 1 when removed; 0 when `desc` was not registered.
    int32_t unregisterDesc(TarskPluginDesc* desc);
    // 1 when the table was attached to a registered descriptor; 0 otherwise.
    int32_t registerParameterTable(TarskPluginDesc* desc, TarskParameterListDesc* params);

    const std::vector<Entry>& entries() const noexcept { return registered; }
    const Entry* findByName(const char* name) const;
    const Entry* findById(uint64_t id) const;

private:
    std::vector<Entry> registered;
};

}  // namespace TUtils
