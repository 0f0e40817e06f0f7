// A plug-in library built against the installed SDK headers: the host finds its entry point and
// reads its descriptor, which registers no type.
#include <tarsk/PluginDesc.h>
#include <tarsk/PluginEntry.h>

namespace {

class ConsumerLibDesc : public PluginLibDesc {
public:
    const char* getName() override { return "Consumer"; }
    const char* getDescription() override { return "built against the installed TarskSDK"; }
    int32_t registerPlugins(PluginRegistry*) override { return 1; }
};

ConsumerLibDesc consumerLibDesc;

}  // namespace

extern "C" TARSK_PLUGIN_EXPORT PluginLibDesc* getLibDesc() { return &consumerLibDesc; }
