// The library's three static objects and its entry point. They are defined in this one
// translation unit, in this order, so the loader builds them in this order (the parameter table is
// complete before either descriptor exists) and destroys them in the reverse order at unload.
#include "LibDesc.h"
#include "TexPtexParams.h"
#include "UserPluginDesc.h"

#include <tarsk/PluginEntry.h>

namespace {

TexPtexParams texPtexParams;
UserPluginDesc userPluginDesc(&texPtexParams);
LibDesc libDesc;

}  // namespace

UserPluginDesc* texPtexPluginDesc() noexcept { return &userPluginDesc; }

extern "C" TARSK_PLUGIN_EXPORT PluginLibDesc* getLibDesc() { return &libDesc; }
