// TarskParameterList: one instance's parameter values, made from its type's parameter table.
// Values are set by name (setParameter) with type checking; members bound with setParamCache are
// kept equal to the value at the list's current time, or to the registered default when unset.
#pragma once

#include <tarsk/CharString.h>
#include <tarsk/TarskParameterListDesc.h>
#include <tarsk/TarskPluginParameter.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace TUtils {

class TarskMessageLog;
class TextureInterface;

class TarskParameterList {
public:
    explicit TarskParameterList(const TarskParameterListDesc& desc);
    TarskParameterList(const TarskParameterList&) = delete;
    TarskParameterList& operator=(const TarskParameterList&) = delete;
    ~TarskParameterList();

    // Bind a member to a parameter and write its current value into it at once. A string
    // parameter binds a CharString, an int or bool parameter an int (bools as 0/1, or the int a
    // scene gave), a float parameter a float. Unknown names, another kind and null members are
    // refused with a message and bind nothing.
    void setParamCache(const char* name, CharString* member);
    void setParamCache(const char* name, int32_t* member);
    void setParamCache(const char* name, float* member);
    void setOutputParamCache(const char* name, TextureInterface* iface);

    // Replaces the named parameter's value (all its keys) by a copy of `param`, whose name picks
    // the parameter; list storage is shared, not copied. 1 on success; 0 with a message and no
    // change for null, an unknown name, an output, a value-less parameter or a value of another
    // kind (a bool parameter also takes int values: any non-zero int is true). Replacing a list
    // frees storage that plug-ins borrow for the frame: hosts set parameters between frames.
    int32_t setParameter(const TarskPluginParameter* param);
    // The value a scene gave, or null when it gave none (defaults are not parameters).
    TarskPluginParameter* getParam(const char* name) noexcept;
    const TarskPluginParameter* getParam(const char* name) const noexcept;

    // The time at which bound members are sampled (0 at creation). Changing it rewrites them;
    // the host's default frameBegin sets it to the frame time.
    void setCurrentTime(double time);
    double currentTime() const noexcept { return time; }

    TextureInterface* getOutputParam(const char* name) const noexcept;
    // Where refusals are reported; null selects the host's default log.
    void setMessageLog(TarskMessageLog* log) noexcept { messageLog = log; }

    int numParams() const noexcept { return static_cast<int>(slots.size()); }
    // Lists alive in the process; lets a host check that every instance gave its list back.
    static int liveCount() noexcept;
    const TarskParameterInfo& paramInfo(int index) const { return slots.at(static_cast<size_t>(index)).info; }

private:
    struct Slot {
        TarskParameterInfo info;
        std::unique_ptr<TarskPluginParameter> value;
        CharString* stringMember = nullptr;
        int32_t* intMember = nullptr;
        float* floatMember = nullptr;
        TextureInterface* output = nullptr;
    };

    Slot* find(const char* name) noexcept;
    const Slot* find(const char* name) const noexcept;
    void writeMembers(const Slot& slot);
    TarskMessageLog& log() const noexcept;
    // The slot `name` names when a member of `memberKind` may bind it; null with a message else.
    Slot* bindable(const char* name, const void* member, const char* memberKind, TarskParameterType kind,
                   TarskParameterType alsoKind);

    std::vector<Slot> slots;
    double time = 0.0;
    TarskMessageLog* messageLog = nullptr;
};

}  // namespace TUtils
