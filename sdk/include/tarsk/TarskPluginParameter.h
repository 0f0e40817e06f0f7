// TarskPluginParameter: one named parameter value as the host keeps it. A value may be keyed at
// several times; every getter at time t answers the value with the greatest key time <= t, or the
// earliest one when all keys lie after t. All keys of one parameter hold the same kind of value.
#pragma once

#include <tarsk/CharString.h>
#include <tarsk/ListRef.h>
#include <tarsk/SharedList.h>
#include <tarsk/TarskParameterType.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace TUtils {

class TarskPluginParameter {
public:
    explicit TarskPluginParameter(const char* name);
    TarskPluginParameter(const TarskPluginParameter&) = default;
    TarskPluginParameter& operator=(const TarskPluginParameter&) = default;
    ~TarskPluginParameter();

    const char* getName() const noexcept { return name.c_str(); }
    // The kind of the values held, TARSK_PARAM_NONE before the first one is set.
    TarskParameterType getType() const noexcept { return type; }
    int numKeys() const noexcept { return static_cast<int>(keys.size()); }
    double keyTime(int index) const noexcept;

    // The list at `time` (greatest key time <= time, else the earliest); an empty ListRef
    // (data null, owner null, count 0) when the parameter holds no list of that kind.
    ListRef<int32_t> getIntList(double time) const;
    ListRef<Vector3f> getVectorList(double time) const;
    ListRef<float> getFloatList(double time) const;

    // Scalar getters: false (and `out` untouched) when the parameter holds no value of that kind.
    // getInt also answers a bool value as 0 or 1, since bool members are bound as ints.
    bool getInt(double time, int32_t& out) const;
    bool getFloat(double time, float& out) const;
    bool getBool(double time, bool& out) const;
    bool getString(double time, CharString& out) const;

    // Host side: key a value at a time, replacing a value keyed at the same time. A value of a
    // different kind than the ones held replaces all keys, so a parameter never mixes kinds.
    void setIntList(double time, std::vector<int32_t> values);
    void setVectorList(double time, std::vector<Vector3f> values);
    void setFloatList(double time, std::vector<float> values);
    void setInt(double time, int32_t value);
    void setFloat(double time, float value);
    void setBool(double time, bool value);
    void setString(double time, const char* text);  // null text: a string without text

    // Forgets every key; the parameter holds no value afterwards.
    void clear();

private:
    using Value =
        std::variant<CharString, int32_t, float, bool, SharedList<int32_t>, SharedList<float>, SharedList<Vector3f>>;
    struct Key {
        double time;
        Value value;
    };

    const Value* valueAt(double time) const noexcept;
    void setValue(double time, TarskParameterType kind, Value value);

    std::string name;
    TarskParameterType type = TARSK_PARAM_NONE;
    std::vector<Key> keys;  // sorted by time, at most one key per time
};

}  // namespace TUtils
