// PluginBase: the root of every plug-in object and descriptor. It keeps a list of added
// interfaces (newest first) and finds interfaces by their 64-bit id, compared on all 64 bits.
#pragma once

#include <cstdint>

class PluginInterface;

class PluginBase {
public:
    PluginBase() noexcept = default;
    PluginBase(const PluginBase&) = delete;
    PluginBase& operator=(const PluginBase&) = delete;
    // Releases the owned interfaces of the list, oldest first, and frees every entry.
    virtual ~PluginBase();

    // The newest added interface whose id equals `id`, or null.
    virtual PluginInterface* getInterface(uint64_t id);
    // Does nothing: interfaces are not reference counted.
    virtual void releaseInterface(PluginInterface* iface);
    // Adds an entry in front; 1, or 0 with the list unchanged when no entry could be allocated.
    // A non-zero `owned` makes the list release the interface when it is destroyed.
    virtual int32_t addInterface(PluginInterface* iface, int32_t owned);
    // Unlinks the newest entry holding `iface` without releasing it; 0 when there is none.
    virtual int32_t removeInterface(PluginInterface* iface);

private:
    struct InterfaceEntry {
        PluginInterface* iface;
        int32_t owned;
        InterfaceEntry* next;
    };
    InterfaceEntry* interfaces = nullptr;
};
