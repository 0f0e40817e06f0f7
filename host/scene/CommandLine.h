// Small command-line helpers shared by the host programs: option values are checked here so that
// every program words its errors the same way.
#pragma once

#include "HostError.h"

#include <cstdlib>
#include <string>

namespace tarsk::host {

// The whole of `text` as a base-10 integer in [lo, hi]; anything else is a HostError naming `option`.
inline long parseInteger(const std::string& option, const std::string& text, long lo, long hi)
{
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < lo || v > hi)
        throw HostError(option + " takes an integer from " + std::to_string(lo) + " to " + std::to_string(hi) +
                        ", not '" + text + "'");
    return v;
}

}  // namespace tarsk::host
