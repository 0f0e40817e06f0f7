// Keyed: a value given at one or more times, answered the way the host answers keyed parameters:
// the key with the greatest time <= t, or the earliest key when every key lies after t.
#pragma once

#include <utility>
#include <vector>

namespace tarsk::host {

template <typename T>
struct Keyed {
    std::vector<std::pair<double, T>> keys;  // sorted by time, never empty once loaded

    const T& at(double time) const
    {
        const std::pair<double, T>* best = &keys.front();
        for (const auto& key : keys)
            if (key.first <= time) best = &key;
        return best->second;
    }
    bool isAnimated() const { return keys.size() > 1; }
};

}  // namespace tarsk::host
