// HostError: the one exception type of the host programs. Its message is a complete sentence that
// the program prints as "error: <message>" before exiting non-zero; it never crosses the plug-in.
#pragma once

#include <stdexcept>
#include <string>

namespace tarsk::host {

class HostError : public std::runtime_error {
public:
    explicit HostError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tarsk::host
