// PluginInterface: the base of every interface that a plug-in object offers, found by 64-bit id
// through PluginBase::getInterface. Interfaces are not reference counted: one lives as long as
// the object that offers it.
#pragma once

#include <cstdint>

class PluginBase;

class PluginInterface {
public:
    PluginInterface() noexcept = default;
    PluginInterface(const PluginInterface&) = delete;
    PluginInterface& operator=(const PluginInterface&) = delete;
    virtual ~PluginInterface();

    virtual uint64_t getInterfaceID() = 0;
    // The plug-in object that offers this interface.
    virtual PluginBase* getPlugin() = 0;
    // Null unless a derived interface names itself.
    virtual const char* getInterfaceName();
    // Hands the interface back to its object (PluginBase::releaseInterface).
    virtual void release();
};
