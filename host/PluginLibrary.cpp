#include "PluginLibrary.h"

#include <tarsk/PluginEntry.h>
#include <tarsk/PluginRegistry.h>

#include <dlfcn.h>

namespace {

std::string dlErrorText()
{
    const char* text = dlerror();
    return text ? text : "unknown error";
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::load(const std::string& path, TUtils::TarskPluginHost& host,
                                                   std::string& error)
{
    error.clear();
    if (path.empty()) {
        error = "cannot load plug-in library: empty path";
        return nullptr;
    }
    // dlopen searches the library path for a bare name; a user naming a file means that file.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;

    dlerror();
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = "cannot load plug-in library \"" + path + "\": " + dlErrorText();
        return nullptr;
    }
    std::unique_ptr<PluginLibrary> library(new PluginLibrary());
    library->libraryPath = path;
    library->handle = handle;
    library->host = &host;

    dlerror();
    auto entry = reinterpret_cast<GetLibDescFunction>(dlsym(handle, kGetLibDescSymbol));
    if (!entry) {
        error = "\"" + path + "\" is not a Tarsk plug-in library (no " + kGetLibDescSymbol + "): " + dlErrorText();
        return nullptr;
    }
    try {
        library->desc = entry();
        if (!library->desc) {
            error = "\"" + path + "\": " + kGetLibDescSymbol + " answered no library descriptor";
            return nullptr;
        }
        PluginRegistry registry;
        library->desc->registerPlugins(&registry);
        if (registry.plugins().empty()) {
            error = "\"" + path + "\" registers no plug-in type";
            return nullptr;
        }
        library->descs = registry.plugins();
        for (PluginDesc* plugin : library->descs) plugin->registerParameters(&host);
    } catch (const std::exception& failure) {
        error = "\"" + path + "\": registration failed: " + failure.what();
        return nullptr;
    } catch (...) {
        error = "\"" + path + "\": registration failed";
        return nullptr;
    }
    return library;
}

PluginLibrary::~PluginLibrary()
{
    try {
        for (PluginDesc* plugin : descs) plugin->unregisterParameters(host);
    } catch (...) {
        // The library's descriptors are about to go away with it; nothing more can be done.
    }
    descs.clear();
    desc = nullptr;
    if (handle) dlclose(handle);
}
