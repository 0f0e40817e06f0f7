// HostMessageLog: the message log the host programs give the renderer: every message goes to
// stderr as "error: ..." or "info: ...", and the errors are also kept until the host takes them,
// so that a program can tell which texture reported them and list them again at its end.
#pragma once

#include <tarsk/TarskMessageLog.h>

#include <mutex>
#include <string>
#include <vector>

namespace tarsk::host {

class HostMessageLog : public TUtils::TarskMessageLog {
public:
    // `record` keeps every message as well, for tests.
    explicit HostMessageLog(bool record = false) : TUtils::TarskMessageLog(false, record) {}

    // The error texts reported since the last call, oldest first.
    std::vector<std::string> takeErrors();

protected:
    void write(Level level, const std::string& text) override;

private:
    std::mutex errorsMutex;
    std::vector<std::string> errors;
};

}  // namespace tarsk::host
