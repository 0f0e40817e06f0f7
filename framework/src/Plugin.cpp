#include <tarsk/Plugin.h>

#include <cstring>
#include <new>

Plugin::~Plugin() = default;

PluginDesc* Plugin::getPluginDesc() { return nullptr; }

void Plugin::setPluginName(const char* text)
{
    name.reset();
    if (!text) return;
    const size_t size = std::strlen(text) + 1;
    name.reset(new (std::nothrow) char[size]);
    if (name) std::memcpy(name.get(), text, size);
}
