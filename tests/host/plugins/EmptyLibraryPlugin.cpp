// A plug-in library whose registerPlugins registers no plug-in type at all.
#include <tarsk/PluginDesc.h>
#include <tarsk/PluginEntry.h>

namespace {

class EmptyLibDesc : public PluginLibDesc {
public:
    const char* getName() override { return "Empty"; }
    const char* getDescription() override { return "registers nothing"; }
    int32_t registerPlugins(PluginRegistry*) override { return 1; }
};

EmptyLibDesc emptyLibDesc;

}  // namespace

extern "C" TARSK_PLUGIN_EXPORT PluginLibDesc* getLibDesc() { return &emptyLibDesc; }
