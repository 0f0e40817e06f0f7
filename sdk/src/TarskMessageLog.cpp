#include <tarsk/TarskMessageLog.h>

#include <cstdio>

namespace TUtils {

TarskMessageLog::TarskMessageLog(bool printToStderr, bool record) : printToStderr(printToStderr), record(record) {}

TarskMessageLog::~TarskMessageLog() = default;

void TarskMessageLog::reportError(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    report(Level::Error, format, args);
    va_end(args);
}

void TarskMessageLog::reportInfo(const char* format, ...) noexcept
{
    va_list args;
    va_start(args, format);
    report(Level::Info, format, args);
    va_end(args);
}

void TarskMessageLog::report(Level level, const char* format, va_list args) noexcept
{
    if (!format) return;
    try {
        // Measure first on a copy of the arguments, then format into a buffer of the exact size.
        va_list measure;
        va_copy(measure, args);
        const int length = std::vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
        if (length < 0) return;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<size_t>(length));
        write(level, text);
    } catch (...) {
        // Out of memory while reporting: the message is lost, the caller goes on.
    }
}

void TarskMessageLog::write(Level level, const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (printToStderr) std::fprintf(stderr, "%s%s\n", level == Level::Error ? "error: " : "", text.c_str());
    if (record) recorded.push_back(Message{level, text});
}

std::vector<TarskMessageLog::Message> TarskMessageLog::messages() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorded;
}

int TarskMessageLog::count(Level level) const
{
    std::lock_guard<std::mutex> lock(mutex);
    int n = 0;
    for (const Message& message : recorded) n += message.level == level ? 1 : 0;
    return n;
}

void TarskMessageLog::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    recorded.clear();
}

TarskMessageLog* defaultHostLog() noexcept
{
    static TarskMessageLog log(true, false);
    return &log;
}

}  // namespace TUtils
