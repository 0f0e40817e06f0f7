// tarsk-plugins: loads plug-in libraries into the stand-in host and lists what each registers:
// the library's name and description, every plug-in type with its id, the interfaces it offers
// and its full parameter table. Exit status 0 when every library loaded, 1 otherwise.
#include "PluginInstance.h"
#include "PluginLibrary.h"
#include "ProgramOutput.h"

#include <tarsk/GeometryTransform.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginDesc.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct KnownInterface {
    uint64_t id;
    const char* name;
};

// The interface ids this host understands; a plug-in is asked about each.
const KnownInterface kKnownInterfaces[] = {
    {TUtils::TarskPluginInterface::kInterfaceId, "EXT_TARSK_PLUGIN"},
    {TUtils::TextureInterface::kInterfaceId, "EXT_TEXTURE"},
    {TUtils::GeometryTransform::kInterfaceId, "EXT_GEOMETRY_TRANSFORM"},
};

std::string quoted(const TUtils::CharString& text)
{
    return text.hasText() ? "\"" + std::string(text.c_str()) + "\"" : "(none)";
}

std::string defaultText(const TUtils::TarskParameterInfo& info)
{
    if (!info.hasDefault) return "-";
    char buffer[64];
    switch (info.type) {
    case TUtils::TARSK_PARAM_STRING: return quoted(info.defaultString);
    case TUtils::TARSK_PARAM_BOOL: return info.defaultInt ? "true" : "false";
    case TUtils::TARSK_PARAM_INT: std::snprintf(buffer, sizeof buffer, "%" PRId32, info.defaultInt); return buffer;
    case TUtils::TARSK_PARAM_FLOAT: {
        // Floats always show as floats: "1.0", not "1".
        std::snprintf(buffer, sizeof buffer, "%g", double(info.defaultFloat));
        std::string text = buffer;
        if (text.find_first_of(".enai") == std::string::npos) text += ".0";
        return text;
    }
    default: return "-";
    }
}

void printParameters(const TUtils::TarskParameterListDesc& params)
{
    std::printf("  parameters (%d):\n", params.numParams());
    std::printf("    %3s  %-17s %-14s %-9s %-8s %s\n", "#", "name", "type", "default", "int arg", "description");
    for (int i = 0; i < params.numParams(); ++i) {
        const TUtils::TarskParameterInfo& info = params.param(i);
        std::string type = TUtils::parameterTypeName(info.type);
        if (info.isOutput) type += " output";
        const std::string intArg = info.isOutput ? "-" : std::to_string(info.intArg);
        std::printf("    %3d  %-17s %-14s %-9s %-8s %s\n", i + 1, info.name.c_str(), type.c_str(),
                    defaultText(info).c_str(), intArg.c_str(), quoted(info.description).c_str());
    }
}

void printType(PluginDesc& desc, const TUtils::TarskPluginHost& host)
{
    const char* name = desc.getName();
    const uint64_t id = desc.getPluginID();
    std::printf("type \"%s\"\n", name ? name : "(unnamed)");
    std::printf("  id: %" PRIu64 " (0x%" PRIX64 ")\n", id, id);
    std::printf("  interfaces:\n");
    PluginInstance instance(desc);
    for (const KnownInterface& known : kKnownInterfaces) {
        if (!desc.supportsInterface(known.id)) continue;
        // The instance names its own interfaces; a type that cannot make one still lists the id.
        PluginInterface* iface = instance.valid() ? instance.plugin()->getInterface(known.id) : nullptr;
        const char* ifaceName = iface ? iface->getInterfaceName() : nullptr;
        std::printf("    0x%08" PRIX64 "  %s%s\n", known.id, ifaceName ? ifaceName : known.name,
                    iface || !instance.valid() ? "" : "  (supported, but the instance does not offer it)");
    }
    if (!instance.valid()) std::printf("  (no instance could be made)\n");
    const TUtils::TarskPluginHost::Entry* entry = host.findById(id);
    if (entry && entry->params)
        printParameters(*entry->params);
    else
        std::printf("  parameters: none registered\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: tarsk-plugins PLUGIN_LIBRARY.so...\n";
    if (argc < 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::printf(
            "%s"
            "Loads each plug-in library into the stand-in host and lists on standard output what it\n"
            "registers: the library's name and description, and for every plug-in type its id, the\n"
            "interfaces it offers and its parameter table (name, type, default, description).\n"
            "Exit status 0 when every library loaded, 1 otherwise, 2 without arguments.\n",
            usage);
        return tarsk::cli::finishStdout("tarsk-plugins: ") ? 0 : 1;
    }
    int status = 0;
    for (int arg = 1; arg < argc; ++arg) {
        TUtils::TarskPluginHost host;
        std::string error;
        std::unique_ptr<PluginLibrary> library = PluginLibrary::load(argv[arg], host, error);
        if (!library) {
            std::fprintf(stderr, "tarsk-plugins: %s\n", error.c_str());
            status = 1;
            continue;
        }
        const char* libName = library->libDesc()->getName();
        const char* libDescription = library->libDesc()->getDescription();
        std::printf("library %s\n  name: %s\n  description: %s\n", library->path().c_str(), libName ? libName : "",
                    libDescription ? libDescription : "");
        for (PluginDesc* desc : library->plugins()) printType(*desc, host);
    }
    return tarsk::cli::finishStdout("tarsk-plugins: ") ? status : 1;
}
