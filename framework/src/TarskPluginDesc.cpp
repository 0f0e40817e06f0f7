#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginDesc.h>
#include <tarsk/TarskPluginHost.h>

namespace TUtils {

void TarskPluginDesc::registerParameters(TarskPluginHost* host)
{
    if (!host) return;
    host->registerDesc(this);
    if (paramListDesc) paramListDesc->registerParameters(host, this);
}

void TarskPluginDesc::unregisterParameters(TarskPluginHost* host)
{
    if (host) host->unregisterDesc(this);
}

}  // namespace TUtils
