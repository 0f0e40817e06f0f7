// The note on a Ptex cache that is too small for a frame: when the texture's private cache had to
// read the same data again more than a few times its own size during the frame (so the render
// spent its time re-reading evicted data), the renderer's log says so once, at frame end, with
// the "cache_size" that would have held everything the frame used.
#pragma once

#include "PtexTextureOpen.h"

#include <string>

// A cache re-read more than this many times its limit in one frame is said to thrash.
constexpr uint64_t kThrashRereadFactor = 4;

// The note for a frame's cache use, or an empty text when the cache sufficed.
std::string cacheThrashNote(const char* path, const PtexCacheUse& use);

// The smallest "cache_size" (megabytes) whose cache would have held `workingSetBytes` without
// evicting: the working set with room for the cache's eviction batches, rounded up.
int64_t cacheSizeFor(uint64_t workingSetBytes);
