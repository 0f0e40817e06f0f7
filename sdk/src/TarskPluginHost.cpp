#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskPluginHost.h>

#include <algorithm>
#include <cstring>

namespace TUtils {

int32_t TarskPluginHost::registerDesc(TarskPluginDesc* desc)
{
    if (!desc) return 0;
    auto same = [desc](const Entry& e) { return e.desc == desc; };
    if (std::any_of(registered.begin(), registered.end(), same)) return 0;
    try {
        registered.push_back(Entry{desc, nullptr});
    } catch (...) {
        return 0;
    }
    return 1;
}

int32_t TarskPluginHost::unregisterDesc(TarskPluginDesc* desc)
{
    auto at = std::find_if(registered.begin(), registered.end(), [desc](const Entry& e) { return e.desc == desc; });
    if (!desc || at == registered.end()) return 0;
    registered.erase(at);
    return 1;
}

int32_t TarskPluginHost::registerParameterTable(TarskPluginDesc* desc, TarskParameterListDesc* params)
{
    for (Entry& entry : registered) {
        if (desc && entry.desc == desc) {
            entry.params = params;
            return 1;
        }
    }
    return 0;
}

const TarskPluginHost::Entry* TarskPluginHost::findByName(const char* name) const
{
    if (!name) return nullptr;
    for (const Entry& entry : registered) {
        const char* entryName = entry.desc->getName();
        if (entryName && std::strcmp(entryName, name) == 0) return &entry;
    }
    return nullptr;
}

const TarskPluginHost::Entry* TarskPluginHost::findById(uint64_t id) const
{
    for (const Entry& entry : registered) {
        if (entry.desc->getPluginID() == id) return &entry;
    }
    return nullptr;
}

}  // namespace TUtils
