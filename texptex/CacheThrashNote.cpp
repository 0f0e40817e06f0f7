#include "CacheThrashNote.h"

#include <cstdio>

namespace {

constexpr double kMegabyte = 1048576.0;

}  // namespace

int64_t cacheSizeFor(uint64_t workingSetBytes)
{
    // The cache starts evicting a little below its limit (in batches of a sixty-fourth of it):
    // a sixteenth more than the working set leaves room for that.
    const uint64_t needed = workingSetBytes + workingSetBytes / 16;
    return int64_t((needed + 1048575) / 1048576);
}

std::string cacheThrashNote(const char* path, const PtexCacheUse& use)
{
    if (use.limitBytes == 0 || use.reloadedBytes <= kThrashRereadFactor * use.limitBytes) return std::string();
    const int64_t suggested = cacheSizeFor(use.workingSetBytes);
    char text[512];
    snprintf(text, sizeof(text),
             "TexPtex: the Ptex cache of \"%s\" (%.0f MB, \"cache_size\") re-read %.1f MB of evicted data during the "
             "frame; a \"cache_size\" of %lld would hold the frame's %.1f MB of texture data",
             path ? path : "", double(use.limitBytes) / kMegabyte, double(use.reloadedBytes) / kMegabyte,
             static_cast<long long>(suggested), double(use.workingSetBytes) / kMegabyte);
    return text;
}
