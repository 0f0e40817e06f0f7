// Plugin: a plug-in object (an instance of a plug-in type), as opposed to a descriptor. It may
// carry a name, kept as its own copy of the text.
#pragma once

#include <tarsk/PluginBase.h>

#include <memory>

class PluginDesc;

class Plugin : public PluginBase {
public:
    Plugin() noexcept = default;
    ~Plugin() override;

    // The descriptor that made the object; null here, TarskPlugin answers its own.
    virtual PluginDesc* getPluginDesc();
    // Keeps a copy of `text`, replacing the previous one. Null text (or no memory for the copy)
    // leaves the object without a name rather than failing.
    virtual void setPluginName(const char* text);

    const char* pluginName() const noexcept { return name.get(); }

private:
    std::unique_ptr<char[]> name;
};
