// LibDesc: the library descriptor of tarsk_TexPtex, the object getLibDesc hands to the host. It
// names the library and registers its one plug-in type, TexPtex.
#pragma once

#include <tarsk/PluginDesc.h>

class UserPluginDesc;

class LibDesc : public PluginLibDesc {
public:
    const char* getName() override;
    const char* getDescription() override;
    // Registers the library's UserPluginDesc with a non-null registry; answers 1 in every case.
    int32_t registerPlugins(PluginRegistry* registry) override;
};

// The library's static plug-in descriptor (defined beside the other static objects).
UserPluginDesc* texPtexPluginDesc() noexcept;
