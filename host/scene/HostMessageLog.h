// HostMessageLog: the message log the host programs give the renderer: every message goes to
// stderr as "error: ..." or "info: ...", and is also counted so a program can summarise them.
#pragma once

#include <tarsk/TarskMessageLog.h>

namespace tarsk::host {

class HostMessageLog : public TUtils::TarskMessageLog {
public:
    // `record` keeps the messages as well, for tests and summaries.
    explicit HostMessageLog(bool record = false) : TUtils::TarskMessageLog(false, record) {}

protected:
    void write(Level level, const std::string& text) override;
};

}  // namespace tarsk::host
