// PtexCacheTraffic: an extension of this library's PtexCache beyond the public Stats: how much
// data the cache made from its files (read and decoded, or reduced), how much of it again after
// evicting it, and the largest working set it saw, so that an application can tell its user
// that the memory limit is too small for what is being rendered. Reached from a PtexCache with
// dynamic_cast; caches of other Ptex libraries do not offer it.
#ifndef PtexCacheTraffic_h
#define PtexCacheTraffic_h

#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

class PtexCacheTraffic {
protected:
    virtual ~PtexCacheTraffic() {}

public:
    struct Figures {
        uint64_t maxMem = 0;           // the cache's memory limit (0: none)
        uint64_t loadedBytes = 0;      // data made since the cache was created, all told
        uint64_t reloadedBytes = 0;    // of those, data made again after the cache had evicted them
        uint64_t workingSetBytes = 0;  // the peak of what the cache would have held had it never
                                       // evicted (what it keeps for good included): a limit of
                                       // this size would not have had to re-read anything
    };
    virtual void getTraffic(Figures& figures) = 0;
};

PTEX_NAMESPACE_END

using Ptex::PtexCacheTraffic;

#endif
