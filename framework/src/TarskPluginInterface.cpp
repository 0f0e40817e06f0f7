#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskPluginInterface.h>

namespace TUtils {

TarskPluginInterface::TarskPluginInterface(TarskPluginDesc* desc) noexcept
    : pluginDesc(desc),
      paramList(desc && desc->getParamListDesc() ? desc->getParamListDesc()->newParameterList() : nullptr)
{}

TarskPluginInterface::~TarskPluginInterface()
{
    if (pluginDesc && paramList && pluginDesc->getParamListDesc())
        pluginDesc->getParamListDesc()->deleteParameterList(paramList);
    paramList = nullptr;
}

uint64_t TarskPluginInterface::getInterfaceID() { return kInterfaceId; }

const char* TarskPluginInterface::getInterfaceName() { return "EXT_TARSK_PLUGIN"; }

void TarskPluginInterface::renderBegin(TarskRenderer*) {}

void TarskPluginInterface::renderEnd(TarskRenderer*) {}

void TarskPluginInterface::frameEnd(TarskRenderer*) {}

int32_t TarskPluginInterface::setParameter(TarskPluginParameter* param)
{
    return paramList ? paramList->setParameter(param) : 0;
}

TarskPluginParameter* TarskPluginInterface::getParameter(const char* name)
{
    return paramList ? paramList->getParam(name) : nullptr;
}

}  // namespace TUtils
