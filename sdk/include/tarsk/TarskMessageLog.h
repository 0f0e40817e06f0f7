// TarskMessageLog: the renderer's message log. Plug-ins report through reportError/reportInfo with
// printf-style formats; the host can print the messages to stderr, record them (tests, host
// programs that show them later), or both. Safe to call from several threads at once.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

namespace TUtils {

class TarskMessageLog {
public:
    enum class Level { Info, Error };
    struct Message {
        Level level;
        std::string text;
    };

    explicit TarskMessageLog(bool printToStderr = true, bool record = false);
    TarskMessageLog(const TarskMessageLog&) = delete;
    TarskMessageLog& operator=(const TarskMessageLog&) = delete;
    virtual ~TarskMessageLog();

    // A null format is ignored. Messages longer than the formatted text allows are kept whole.
    void reportError(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
    void reportInfo(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
    void report(Level level, const char* format, va_list args) noexcept;

    // Recorded messages (only when recording), oldest first.
    std::vector<Message> messages() const;
    int count(Level level) const;
    void clear();

protected:
    // Where a formatted message goes; the default prints and/or records it.
    virtual void write(Level level, const std::string& text);

private:
    bool printToStderr;
    bool record;
    mutable std::mutex mutex;
    std::vector<Message> recorded;
};

// The host's own log for refusals of parameter operations when a list has none of its own:
// prints to stderr. Never null.
TarskMessageLog* defaultHostLog() noexcept;

}  // namespace TUtils
