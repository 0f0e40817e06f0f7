#include <tarsk/PluginBase.h>
#include <tarsk/PluginInterface.h>

PluginInterface::~PluginInterface() = default;

const char* PluginInterface::getInterfaceName() { return nullptr; }

void PluginInterface::release()
{
    if (PluginBase* plugin = getPlugin()) plugin->releaseInterface(this);
}
