#include <tarsk/PluginBase.h>
#include <tarsk/PluginInterface.h>

#include <new>

PluginBase::~PluginBase()
{
    // Owned interfaces are released oldest first. The list is reversed in place and walked,
    // which gives that order without recursion however long the list is.
    InterfaceEntry* oldestFirst = nullptr;
    while (interfaces) {
        InterfaceEntry* entry = interfaces;
        interfaces = entry->next;
        entry->next = oldestFirst;
        oldestFirst = entry;
    }
    while (oldestFirst) {
        InterfaceEntry* entry = oldestFirst;
        oldestFirst = entry->next;
        if (entry->iface && entry->owned != 0) {
            try {
                entry->iface->release();
            } catch (...) {
                // A destructor cannot report; the entry is freed all the same.
            }
        }
        delete entry;
    }
}

PluginInterface* PluginBase::getInterface(uint64_t id)
{
    for (InterfaceEntry* entry = interfaces; entry; entry = entry->next) {
        if (entry->iface && entry->iface->getInterfaceID() == id) return entry->iface;
    }
    return nullptr;
}

void PluginBase::releaseInterface(PluginInterface*) {}

int32_t PluginBase::addInterface(PluginInterface* iface, int32_t owned)
{
    auto* entry = new (std::nothrow) InterfaceEntry{iface, owned, interfaces};
    if (!entry) return 0;
    interfaces = entry;
    return 1;
}

int32_t PluginBase::removeInterface(PluginInterface* iface)
{
    for (InterfaceEntry** link = &interfaces; *link; link = &(*link)->next) {
        InterfaceEntry* entry = *link;
        if (entry->iface != iface) continue;
        *link = entry->next;
        entry->iface = nullptr;
        entry->next = nullptr;
        delete entry;
        return 1;
    }
    return 0;
}
