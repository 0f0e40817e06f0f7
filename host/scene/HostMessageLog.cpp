#include "HostMessageLog.h"

#include <cstdio>
#include <utility>

namespace tarsk::host {

void HostMessageLog::write(Level level, const std::string& text)
{
    // One line per message, written with one fputs so lines from different threads stay whole;
    // a multi-line text (the Ptex library's errors carry the system's reason on a second line)
    // is joined with "; ".
    std::string flat = text;
    while (!flat.empty() && (flat.back() == '\n' || flat.back() == '\r')) flat.pop_back();
    for (size_t at = flat.find('\n'); at != std::string::npos; at = flat.find('\n', at)) flat.replace(at, 1, "; ");
    std::string line = (level == Level::Error ? "error: " : "info: ") + flat + "\n";
    std::fputs(line.c_str(), stderr);
    if (level == Level::Error) {
        std::lock_guard<std::mutex> lock(errorsMutex);
        errors.push_back(std::move(flat));
    }
    TUtils::TarskMessageLog::write(level, text);
}

std::vector<std::string> HostMessageLog::takeErrors()
{
    std::lock_guard<std::mutex> lock(errorsMutex);
    return std::exchange(errors, {});
}

}  // namespace tarsk::host
