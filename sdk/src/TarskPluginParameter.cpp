#include <tarsk/TarskPluginParameter.h>

#include <algorithm>
#include <utility>

namespace TUtils {

const char* parameterTypeName(int32_t type) noexcept
{
    switch (type) {
    case TARSK_PARAM_INT_LIST: return "int list";
    case TARSK_PARAM_FLOAT_LIST: return "float list";
    case TARSK_PARAM_VECTOR_LIST: return "vector list";
    case TARSK_PARAM_STRING: return "string";
    case TARSK_PARAM_INT: return "int";
    case TARSK_PARAM_FLOAT: return "float";
    case TARSK_PARAM_BOOL: return "bool";
    case TARSK_PARAM_TEXTURE: return "texture";
    case TARSK_PARAM_NONE: return "none";
    default: return "unknown";
    }
}

bool isListType(int32_t type) noexcept
{
    return type == TARSK_PARAM_INT_LIST || type == TARSK_PARAM_FLOAT_LIST || type == TARSK_PARAM_VECTOR_LIST;
}

TarskPluginParameter::TarskPluginParameter(const char* name) : name(name ? name : "") {}

TarskPluginParameter::~TarskPluginParameter() = default;

double TarskPluginParameter::keyTime(int index) const noexcept
{
    return index >= 0 && index < numKeys() ? keys[static_cast<size_t>(index)].time : 0.0;
}

const TarskPluginParameter::Value* TarskPluginParameter::valueAt(double time) const noexcept
{
    if (keys.empty()) return nullptr;
    // First key strictly after `time`; the one before it is the greatest key <= time. A NaN time
    // compares false everywhere and so picks the latest key, which is still a defined answer.
    auto after =
        std::upper_bound(keys.begin(), keys.end(), time, [](double t, const Key& key) { return t < key.time; });
    return after == keys.begin() ? &keys.front().value : &std::prev(after)->value;
}

void TarskPluginParameter::setValue(double time, TarskParameterType kind, Value value)
{
    if (kind != type) {
        keys.clear();
        type = kind;
    }
    auto at = std::lower_bound(keys.begin(), keys.end(), time, [](const Key& key, double t) { return key.time < t; });
    if (at != keys.end() && at->time == time)
        at->value = std::move(value);
    else
        keys.insert(at, Key{time, std::move(value)});
}

void TarskPluginParameter::clear()
{
    keys.clear();
    type = TARSK_PARAM_NONE;
}

template <typename T>
static ListRef<T> listAt(const std::variant<CharString, int32_t, float, bool, SharedList<int32_t>, SharedList<float>,
                                            SharedList<Vector3f>>* value) noexcept
{
    if (!value) return {};
    const auto* list = std::get_if<SharedList<T>>(value);
    return list ? list->makeRef() : ListRef<T>{};
}

ListRef<int32_t> TarskPluginParameter::getIntList(double time) const { return listAt<int32_t>(valueAt(time)); }
ListRef<Vector3f> TarskPluginParameter::getVectorList(double time) const { return listAt<Vector3f>(valueAt(time)); }
ListRef<float> TarskPluginParameter::getFloatList(double time) const { return listAt<float>(valueAt(time)); }

bool TarskPluginParameter::getInt(double time, int32_t& out) const
{
    const Value* value = valueAt(time);
    if (!value) return false;
    if (const auto* i = std::get_if<int32_t>(value)) {
        out = *i;
        return true;
    }
    if (const auto* b = std::get_if<bool>(value)) {
        out = *b ? 1 : 0;
        return true;
    }
    return false;
}

bool TarskPluginParameter::getFloat(double time, float& out) const
{
    const Value* value = valueAt(time);
    const auto* f = value ? std::get_if<float>(value) : nullptr;
    if (!f) return false;
    out = *f;
    return true;
}

bool TarskPluginParameter::getBool(double time, bool& out) const
{
    const Value* value = valueAt(time);
    const auto* b = value ? std::get_if<bool>(value) : nullptr;
    if (!b) return false;
    out = *b;
    return true;
}

bool TarskPluginParameter::getString(double time, CharString& out) const
{
    const Value* value = valueAt(time);
    const auto* s = value ? std::get_if<CharString>(value) : nullptr;
    if (!s) return false;
    out = *s;
    return true;
}

void TarskPluginParameter::setIntList(double time, std::vector<int32_t> values)
{
    setValue(time, TARSK_PARAM_INT_LIST, SharedList<int32_t>(std::move(values)));
}

void TarskPluginParameter::setVectorList(double time, std::vector<Vector3f> values)
{
    setValue(time, TARSK_PARAM_VECTOR_LIST, SharedList<Vector3f>(std::move(values)));
}

void TarskPluginParameter::setFloatList(double time, std::vector<float> values)
{
    setValue(time, TARSK_PARAM_FLOAT_LIST, SharedList<float>(std::move(values)));
}

void TarskPluginParameter::setInt(double time, int32_t value) { setValue(time, TARSK_PARAM_INT, value); }
void TarskPluginParameter::setFloat(double time, float value) { setValue(time, TARSK_PARAM_FLOAT, value); }
void TarskPluginParameter::setBool(double time, bool value) { setValue(time, TARSK_PARAM_BOOL, value); }

void TarskPluginParameter::setString(double time, const char* text)
{
    setValue(time, TARSK_PARAM_STRING, CharString(text));
}

}  // namespace TUtils
