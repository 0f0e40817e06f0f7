#include "ProgramOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tarsk::cli {

bool finishStdout(const char* prefix)
{
    // std::cout writes through stdout (the streams stay synchronised with stdio), so one flush and
    // one close see every failed write of either; the error flag and the stream's state cover the
    // writes that failed earlier, whose reason stdio does not keep.
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0;
    const int flushError = errno;
    std::cout.flush();
    const bool streamFailed = !std::cout;
    const bool earlierFailed = std::ferror(stdout) != 0;
    errno = 0;
    const bool closeFailed = std::fclose(stdout) != 0;
    const int closeError = errno;
    if (!streamFailed && !flushFailed && !earlierFailed && !closeFailed) return true;
    const int reason = flushFailed ? flushError : closeFailed ? closeError : 0;
    if (reason)
        std::fprintf(stderr, "%scannot write standard output: %s\n", prefix, std::strerror(reason));
    else
        std::fprintf(stderr, "%scannot write standard output: a write to it failed\n", prefix);
    return false;
}

}  // namespace tarsk::cli
