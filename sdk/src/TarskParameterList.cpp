#include <tarsk/TarskMessageLog.h>
#include <tarsk/TarskParameterList.h>

#include <atomic>
#include <cstring>

namespace TUtils {

namespace {

std::atomic<int> liveLists{0};

// Whether a value of kind `given` may be stored in a parameter registered as `registered`.
// Bool parameters also take ints, since their members are ints and any non-zero value is true.
bool accepts(TarskParameterType registered, TarskParameterType given)
{
    if (registered == given) return true;
    return registered == TARSK_PARAM_BOOL && given == TARSK_PARAM_INT;
}

const char* orNull(const char* text) { return text ? text : "(null)"; }

}  // namespace

TarskParameterList::TarskParameterList(const TarskParameterListDesc& desc)
{
    slots.reserve(desc.allParams().size());
    for (const TarskParameterInfo& info : desc.allParams()) {
        Slot slot;
        slot.info = info;
        slots.push_back(std::move(slot));
    }
    liveLists.fetch_add(1, std::memory_order_relaxed);
}

TarskParameterList::~TarskParameterList() { liveLists.fetch_sub(1, std::memory_order_relaxed); }

int TarskParameterList::liveCount() noexcept { return liveLists.load(std::memory_order_relaxed); }

TarskMessageLog& TarskParameterList::log() const noexcept { return messageLog ? *messageLog : *defaultHostLog(); }

TarskParameterList::Slot* TarskParameterList::find(const char* name) noexcept
{
    if (!name) return nullptr;
    for (Slot& slot : slots) {
        if (std::strcmp(slot.info.name.c_str(), name) == 0) return &slot;
    }
    return nullptr;
}

const TarskParameterList::Slot* TarskParameterList::find(const char* name) const noexcept
{
    return const_cast<TarskParameterList*>(this)->find(name);
}

void TarskParameterList::writeMembers(const Slot& slot)
{
    const TarskPluginParameter* value = slot.value.get();
    if (slot.stringMember) {
        CharString text = slot.info.defaultString;
        if (value) value->getString(time, text);
        *slot.stringMember = text;
    }
    if (slot.intMember) {
        int32_t number = slot.info.defaultInt;
        if (value) value->getInt(time, number);
        *slot.intMember = number;
    }
    if (slot.floatMember) {
        float number = slot.info.defaultFloat;
        if (value) value->getFloat(time, number);
        *slot.floatMember = number;
    }
}

TarskParameterList::Slot* TarskParameterList::bindable(const char* name, const void* member, const char* memberKind,
                                                       TarskParameterType kind, TarskParameterType alsoKind)
{
    Slot* slot = find(name);
    if (!slot) {
        log().reportError("cannot bind unknown parameter \"%s\"", orNull(name));
        return nullptr;
    }
    if (!member) {
        log().reportError("cannot bind parameter \"%s\" to a null member", slot->info.name.c_str());
        return nullptr;
    }
    if (slot->info.type != kind && slot->info.type != alsoKind) {
        log().reportError("cannot bind %s parameter \"%s\" to a %s member", parameterTypeName(slot->info.type),
                          slot->info.name.c_str(), memberKind);
        return nullptr;
    }
    return slot;
}

void TarskParameterList::setParamCache(const char* name, CharString* member)
{
    if (Slot* slot = bindable(name, member, "string", TARSK_PARAM_STRING, TARSK_PARAM_STRING)) {
        slot->stringMember = member;
        writeMembers(*slot);
    }
}

void TarskParameterList::setParamCache(const char* name, int32_t* member)
{
    if (Slot* slot = bindable(name, member, "int", TARSK_PARAM_INT, TARSK_PARAM_BOOL)) {
        slot->intMember = member;
        writeMembers(*slot);
    }
}

void TarskParameterList::setParamCache(const char* name, float* member)
{
    if (Slot* slot = bindable(name, member, "float", TARSK_PARAM_FLOAT, TARSK_PARAM_FLOAT)) {
        slot->floatMember = member;
        writeMembers(*slot);
    }
}

void TarskParameterList::setOutputParamCache(const char* name, TextureInterface* iface)
{
    if (Slot* slot = bindable(name, iface, "texture", TARSK_PARAM_TEXTURE, TARSK_PARAM_TEXTURE)) slot->output = iface;
}

int32_t TarskParameterList::setParameter(const TarskPluginParameter* param)
{
    if (!param) {
        log().reportError("cannot set a null parameter");
        return 0;
    }
    Slot* slot = find(param->getName());
    if (!slot) {
        log().reportError("unknown parameter \"%s\"", param->getName());
        return 0;
    }
    if (slot->info.isOutput) {
        log().reportError("parameter \"%s\" is an output and cannot be set", param->getName());
        return 0;
    }
    if (param->getType() == TARSK_PARAM_NONE) {
        log().reportError("parameter \"%s\" was given no value", param->getName());
        return 0;
    }
    if (!accepts(slot->info.type, param->getType())) {
        log().reportError("parameter \"%s\" takes a %s value, not a %s value", param->getName(),
                          parameterTypeName(slot->info.type), parameterTypeName(param->getType()));
        return 0;
    }
    try {
        // Copying a parameter shares its lists; only the key table is new.
        slot->value = std::make_unique<TarskPluginParameter>(*param);
    } catch (...) {
        log().reportError("out of memory setting parameter \"%s\"", param->getName());
        return 0;
    }
    writeMembers(*slot);
    return 1;
}

TarskPluginParameter* TarskParameterList::getParam(const char* name) noexcept
{
    Slot* slot = find(name);
    return slot ? slot->value.get() : nullptr;
}

const TarskPluginParameter* TarskParameterList::getParam(const char* name) const noexcept
{
    const Slot* slot = find(name);
    return slot ? slot->value.get() : nullptr;
}

void TarskParameterList::setCurrentTime(double newTime)
{
    time = newTime;
    for (const Slot& slot : slots) writeMembers(slot);
}

TextureInterface* TarskParameterList::getOutputParam(const char* name) const noexcept
{
    const Slot* slot = find(name);
    return slot ? slot->output : nullptr;
}

}  // namespace TUtils
