// openPtexTexture: opens one Ptex file through a private, bounded Ptex cache whose lifetime is tied
// to the returned texture. The texture is a forwarding wrapper (PrivateCacheTexture) whose
// release() releases the cached texture and then its cache, which works with any Ptex library
// that keeps to the public PtexTexture interface. Errors the library finds in later reads go to
// the renderer's message log; what the cache read during the texture's life can be asked for
// the note on a cache that is too small.
#pragma once

#include <Ptexture.h>
#include <tarsk/TarskMessageLog.h>

#include <cstdint>

// Smallest memory limit of the private cache: one megabyte.
constexpr int64_t kMinPtexCacheBytes = 1048576;

// The memory limit for "cache_size" megabytes, formed in 64 bits (so 4096 gives 4 GiB instead of
// overflowing a 32-bit product), and never below one megabyte (zero and negative sizes included).
int64_t ptexCacheLimitBytes(int32_t cacheSizeMegabytes) noexcept;

// Opens `path` through a new cache of at most one open file and max(memoryLimit, 1 MB) bytes.
// Returns the texture, which owns the cache (its release() frees both), or null with the
// library's message in `error`. A null path is opened as the empty path. The cache keeps no file
// of its own after the open: only the returned texture holds it. Read errors found later (a
// corrupt face, a file that changed) are reported as errors of `log`, each without the
// library's trailing newline; with no log they are dropped (never printed). Never throws.
PtexTexture* openPtexTexture(const char* path, Ptex::String& error, bool premultiply, int64_t memoryLimit,
                             TUtils::TarskMessageLog* log = nullptr) noexcept;

// What the private cache of a texture from openPtexTexture made from its file so far.
struct PtexCacheUse {
    uint64_t limitBytes = 0;       // the cache's memory limit
    uint64_t loadedBytes = 0;      // data read (or reduced), all told
    uint64_t reloadedBytes = 0;    // of those, data made again after the cache had evicted them
    uint64_t workingSetBytes = 0;  // the peak the cache would have held without evicting anything
};
// False when the texture is not one of openPtexTexture's or its Ptex library cannot tell.
bool ptexCacheUse(PtexTexture* opened, PtexCacheUse& use) noexcept;

// The texture inside a texture from openPtexTexture (the one its private cache holds), for the
// per-point queries of filters: they then skip the forwarding layer. Owned by `opened`, so it is
// valid until opened->release(). Any other texture is answered as it is.
PtexTexture* cachedTexture(PtexTexture* opened) noexcept;

// Deleter for Ptex API objects, which are given back with release(), never deleted.
struct PtexReleaser {
    template <class T>
    void operator()(T* object) const noexcept
    {
        object->release();
    }
};
