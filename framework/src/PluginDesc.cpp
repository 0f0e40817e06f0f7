#include <tarsk/PluginDesc.h>

void PluginDesc::registerParameters(TUtils::TarskPluginHost*) {}

void PluginDesc::unregisterParameters(TUtils::TarskPluginHost*) {}

void* PluginDesc::getExtension() { return nullptr; }
