// TarskParameterListDesc: a plug-in type's parameter table (name, kind, default, description),
// filled once at library load. The host registers it with the type and makes every instance's
// TarskParameterList from it.
#pragma once

#include <tarsk/CharString.h>
#include <tarsk/TarskParameterType.h>

#include <cstdint>
#include <string>
#include <vector>

namespace TUtils {

class TarskParameterList;
class TarskPluginDesc;
class TarskPluginHost;

// One row of a parameter table. Lists and outputs have no default.
struct TarskParameterInfo {
    std::string name;
    TarskParameterType type = TARSK_PARAM_NONE;
    bool isOutput = false;
    bool hasDefault = false;
    CharString defaultString;
    int32_t defaultInt = 0;  // also a bool default, as 0 or 1
    float defaultFloat = 0.0f;
    int32_t intArg = 0;
    CharString description;  // may hold no text
    CharString extra;        // the trailing text of the registration call; may hold no text
};

class TarskParameterListDesc {
public:
    TarskParameterListDesc();
    TarskParameterListDesc(const TarskParameterListDesc&) = delete;
    TarskParameterListDesc& operator=(const TarskParameterListDesc&) = delete;
    virtual ~TarskParameterListDesc();

    // Each answers 1 when the row was added and 0 when it was refused (null or empty name, a name
    // already in the table, a non-list kind given to addParam). Null texts are accepted.
    int32_t addParamString(const char* name, const char* defaultValue, int32_t intArg, const char* description,
                           const char* extra);
    int32_t addParamInt(const char* name, int32_t defaultValue, int32_t intArg, const char* description,
                        const char* extra);
    int32_t addParamFloat(const char* name, float defaultValue, int32_t intArg, const char* description,
                          const char* extra);
    int32_t addParamBool(const char* name, bool defaultValue, int32_t intArg, const char* description,
                         const char* extra);
    int32_t addParam(const char* name, TarskParameterType type, int32_t intArg, const char* description,
                     const char* extra);
    int32_t addOutputParamTexture(const char* name, const char* description, const char* extra);

    // Attaches this table to `desc` in the host's registry; 1 on success.
    int32_t registerParameters(TarskPluginHost* host, TarskPluginDesc* desc);

    // A new list holding every parameter of the table unset; null only when memory ran out.
    TarskParameterList* newParameterList() noexcept;
    // Takes back a list made by newParameterList; null is ignored.
    void deleteParameterList(TarskParameterList* list) noexcept;

    int numParams() const noexcept { return static_cast<int>(params.size()); }
    const TarskParameterInfo& param(int index) const { return params.at(static_cast<size_t>(index)); }
    const TarskParameterInfo* findParam(const char* name) const noexcept;
    const std::vector<TarskParameterInfo>& allParams() const noexcept { return params; }

private:
    int32_t add(TarskParameterInfo info) noexcept;

    std::vector<TarskParameterInfo> params;
};

}  // namespace TUtils
