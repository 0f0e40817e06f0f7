#include <tarsk/TarskParameterList.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginHost.h>

#include <cstring>
#include <new>
#include <utility>

namespace TUtils {

namespace {

TarskParameterInfo makeInfo(const char* name, TarskParameterType type, int32_t intArg, const char* description,
                            const char* extra)
{
    TarskParameterInfo info;
    info.name = name;
    info.type = type;
    info.intArg = intArg;
    info.description = CharString(description);
    info.extra = CharString(extra);
    return info;
}

bool validName(const char* name) { return name && name[0] != '\0'; }

}  // namespace

TarskParameterListDesc::TarskParameterListDesc() = default;

TarskParameterListDesc::~TarskParameterListDesc() = default;

int32_t TarskParameterListDesc::add(TarskParameterInfo info) noexcept
{
    if (findParam(info.name.c_str())) return 0;
    try {
        params.push_back(std::move(info));
    } catch (...) {
        return 0;
    }
    return 1;
}

int32_t TarskParameterListDesc::addParamString(const char* name, const char* defaultValue, int32_t intArg,
                                               const char* description, const char* extra)
{
    if (!validName(name)) return 0;
    try {
        TarskParameterInfo info = makeInfo(name, TARSK_PARAM_STRING, intArg, description, extra);
        info.hasDefault = true;
        info.defaultString = CharString(defaultValue);
        return add(std::move(info));
    } catch (...) {
        return 0;
    }
}

int32_t TarskParameterListDesc::addParamInt(const char* name, int32_t defaultValue, int32_t intArg,
                                            const char* description, const char* extra)
{
    if (!validName(name)) return 0;
    try {
        TarskParameterInfo info = makeInfo(name, TARSK_PARAM_INT, intArg, description, extra);
        info.hasDefault = true;
        info.defaultInt = defaultValue;
        return add(std::move(info));
    } catch (...) {
        return 0;
    }
}

int32_t TarskParameterListDesc::addParamFloat(const char* name, float defaultValue, int32_t intArg,
                                              const char* description, const char* extra)
{
    if (!validName(name)) return 0;
    try {
        TarskParameterInfo info = makeInfo(name, TARSK_PARAM_FLOAT, intArg, description, extra);
        info.hasDefault = true;
        info.defaultFloat = defaultValue;
        return add(std::move(info));
    } catch (...) {
        return 0;
    }
}

int32_t TarskParameterListDesc::addParamBool(const char* name, bool defaultValue, int32_t intArg,
                                             const char* description, const char* extra)
{
    if (!validName(name)) return 0;
    try {
        TarskParameterInfo info = makeInfo(name, TARSK_PARAM_BOOL, intArg, description, extra);
        info.hasDefault = true;
        info.defaultInt = defaultValue ? 1 : 0;
        return add(std::move(info));
    } catch (...) {
        return 0;
    }
}

int32_t TarskParameterListDesc::addParam(const char* name, TarskParameterType type, int32_t intArg,
                                         const char* description, const char* extra)
{
    // Only lists are registered by kind alone: every other kind needs its default.
    if (!validName(name) || !isListType(type)) return 0;
    try {
        return add(makeInfo(name, type, intArg, description, extra));
    } catch (...) {
        return 0;
    }
}

int32_t TarskParameterListDesc::addOutputParamTexture(const char* name, const char* description, const char* extra)
{
    if (!validName(name)) return 0;
    try {
        TarskParameterInfo info = makeInfo(name, TARSK_PARAM_TEXTURE, 0, description, extra);
        info.isOutput = true;
        return add(std::move(info));
    } catch (...) {
        return 0;
    }
}

int32_t TarskParameterListDesc::registerParameters(TarskPluginHost* host, TarskPluginDesc* desc)
{
    return host ? host->registerParameterTable(desc, this) : 0;
}

TarskParameterList* TarskParameterListDesc::newParameterList() noexcept
{
    try {
        return new TarskParameterList(*this);
    } catch (...) {
        return nullptr;
    }
}

void TarskParameterListDesc::deleteParameterList(TarskParameterList* list) noexcept { delete list; }

const TarskParameterInfo* TarskParameterListDesc::findParam(const char* name) const noexcept
{
    if (!name) return nullptr;
    for (const TarskParameterInfo& info : params) {
        if (std::strcmp(info.name.c_str(), name) == 0) return &info;
    }
    return nullptr;
}

}  // namespace TUtils
