#include "HostMessageLog.h"

#include <cstdio>

namespace tarsk::host {

void HostMessageLog::write(Level level, const std::string& text)
{
    // One fputs per message keeps lines from different threads whole.
    std::string line = (level == Level::Error ? "error: " : "info: ") + text + "\n";
    std::fputs(line.c_str(), stderr);
    TUtils::TarskMessageLog::write(level, text);
}

}  // namespace tarsk::host
