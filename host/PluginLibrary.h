// PluginLibrary: a plug-in library loaded into the host. Loading opens the shared library, finds
// its getLibDesc, collects the plug-in descriptors it registers and registers each type (with its
// parameter table) with a TarskPluginHost; destroying it unregisters them and unloads the library.
#pragma once

#include <tarsk/PluginDesc.h>
#include <tarsk/TarskPluginHost.h>

#include <memory>
#include <string>
#include <vector>

class PluginLibrary {
public:
    // The loaded library, or null with `error` saying what went wrong: the path and the system's
    // text for a library that cannot be loaded or has no getLibDesc, or that it registers nothing.
    // A path without a slash names a file in the current folder, not one on the library path.
    static std::unique_ptr<PluginLibrary> load(const std::string& path, TUtils::TarskPluginHost& host,
                                               std::string& error);

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;
    // Every instance made from the library's types must be deleted before this runs.
    ~PluginLibrary();

    const std::string& path() const noexcept { return libraryPath; }
    PluginLibDesc* libDesc() const noexcept { return desc; }
    const std::vector<PluginDesc*>& plugins() const noexcept { return descs; }

private:
    PluginLibrary() = default;

    std::string libraryPath;
    void* handle = nullptr;
    PluginLibDesc* desc = nullptr;
    std::vector<PluginDesc*> descs;
    TUtils::TarskPluginHost* host = nullptr;
};
