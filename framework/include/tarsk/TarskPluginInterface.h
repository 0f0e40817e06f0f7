// TarskPluginInterface: the interface (id 0x7776FFFF, "EXT_TARSK_PLUGIN") through which the host
// drives a Tarsk plug-in instance: render and frame callbacks, parameters set and got by name.
// The part holds the creating descriptor and owns the instance's parameter list.
#pragma once

#include <tarsk/PluginInterface.h>

#include <cstdint>

namespace TUtils {

class TarskParameterList;
class TarskPluginDesc;
class TarskPluginParameter;
class TarskRenderer;

class TarskPluginInterface : public PluginInterface {
public:
    static constexpr uint64_t kInterfaceId = 0x7776FFFFu;

    // Makes the instance's parameter list from the descriptor's table, when there is one.
    explicit TarskPluginInterface(TarskPluginDesc* desc) noexcept;
    // Gives the parameter list back to the descriptor's table.
    ~TarskPluginInterface() override;

    uint64_t getInterfaceID() override;
    const char* getInterfaceName() override;

    virtual void renderBegin(TarskRenderer* renderer);
    virtual void renderEnd(TarskRenderer* renderer);
    // Supplied by the host library: brings the bound parameter members to the frame's time.
    virtual void frameBegin(TarskRenderer* renderer);
    virtual void frameEnd(TarskRenderer* renderer);
    // Forwarded to the parameter list; 0 / null without one.
    virtual int32_t setParameter(TarskPluginParameter* param);
    virtual TarskPluginParameter* getParameter(const char* name);

    TarskPluginDesc* getDescriptor() const noexcept { return pluginDesc; }
    TarskParameterList* getParameterList() const noexcept { return paramList; }

protected:
    TarskPluginDesc* pluginDesc;
    TarskParameterList* paramList;
};

}  // namespace TUtils
