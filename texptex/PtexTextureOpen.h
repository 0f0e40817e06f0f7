// openPtexTexture: opens one Ptex file through a private, bounded Ptex cache whose lifetime is tied
// to the returned texture. The texture is a forwarding wrapper (PrivateCacheTexture) whose
// release() releases the cached texture and then its cache, which works with any Ptex library
// that keeps to the public PtexTexture interface.
#pragma once

#include <Ptexture.h>

#include <cstdint>

// Smallest memory limit of the private cache: one megabyte.
constexpr int64_t kMinPtexCacheBytes = 1048576;

// The memory limit for "cache_size" megabytes, formed in 64 bits (so 4096 gives 4 GiB instead of
// overflowing a 32-bit product), and never below one megabyte (zero and negative sizes included).
int64_t ptexCacheLimitBytes(int32_t cacheSizeMegabytes) noexcept;

// Opens `path` through a new cache of at most one open file and max(memoryLimit, 1 MB) bytes.
// Returns the texture, which owns the cache (its release() frees both), or null with the
// library's message in `error`. A null path is opened as the empty path. The cache keeps no file
// of its own after the open: only the returned texture holds it. Never throws.
PtexTexture* openPtexTexture(const char* path, Ptex::String& error, bool premultiply, int64_t memoryLimit) noexcept;

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
