// The entry point of a plug-in library: the one function, exported under its plain C name, that
// a host looks up after loading the library. It answers the library's static descriptor.
#pragma once

class PluginLibDesc;

#define TARSK_PLUGIN_EXPORT __attribute__((visibility("default")))

extern "C" {
// Defined by each plug-in library; a host reaches it through dlsym, never by linking.
TARSK_PLUGIN_EXPORT PluginLibDesc* getLibDesc();
using GetLibDescFunction = PluginLibDesc* (*)();
}

// The symbol a host looks up with dlsym.
inline constexpr const char kGetLibDescSymbol[] = "getLibDesc";
