// DataResidency: a cache's bookkeeping of memory and open file handles across all its textures
// (an uncached texture has one of its own, without limits). Every byte the textures allocate
// is counted here. Published blocks sit in one ring; when a load would take the total past
// maxMem, a clock hand goes round it, giving blocks used since its last pass another round
// and evicting the others that no handle holds, until the total is a batch below the limit.
// Evicted blocks pass through the read sections, which free them once no reader can still be
// using them.
#pragma once

#include "PtexOpenFiles.h"
#include "Ptexture.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

PTEX_NAMESPACE_BEGIN

class Block;
class ReadSections;

// Whoever publishes blocks: unpublishes one on the residency's request.
class ResidentBlockOwner {
public:
    // Unpublishes the block if no handle holds it (and, for a directory, none of its tiles is
    // published); no reader can newly find it afterwards. True if it was unpublished: the
    // residency then retires it. Called with the residency's ring locked.
    virtual bool evict(Block& block) = 0;

protected:
    ~ResidentBlockOwner() {}
};

class DataResidency {
public:
    DataResidency(int maxFiles, size_t maxMem);
    ~DataResidency();
    DataResidency(const DataResidency&) = delete;
    DataResidency& operator=(const DataResidency&) = delete;

    size_t maxMem() const { return _maxMem; }
    const std::shared_ptr<ReadSections>& sections() const { return _sections; }

    // Memory accounting; delta may be negative.
    void addMemory(int64_t delta);
    uint64_t memUsed() const { return uint64_t(std::max<int64_t>(0, _memUsed.load(std::memory_order_relaxed))); }
    uint64_t peakMemUsed() const { return uint64_t(_peakMemUsed.load(std::memory_order_relaxed)); }

    // Before a block of `bytes` is made: evicts what it takes to keep the total under the limit.
    // Must be called with no slot lock held (eviction takes the owners' slot locks).
    void makeRoom(size_t bytes);
    // Makes room for and makes a block with `payloadBytes` of payload, counted; null when out
    // of memory. Same calling rule as makeRoom.
    Block* makeBlock(int kind, Res res, int pixelSize, size_t payloadBytes);
    // A block its owner just published (not while holding the owner's slot lock): it becomes
    // evictable. Counted already when it was made.
    void admit(Block* block);
    // Blocks that go away without eviction: made but never published, or of a texture that is
    // being destroyed (unlinked from the ring here, destroyed, uncounted).
    void discard(Block* block);
    void discardAll(Block* const* blocks, size_t count);
    // Frees retired blocks and tables that no reader can still see.
    void reclaim();
    // After a block was published: back under the limit if making it needed more room than
    // could be had before (its sources were held while it was made).
    void trim()
    {
        if (_maxMem && _memUsed.load(std::memory_order_relaxed) > int64_t(_maxMem)) makeRoom(0);
    }
    // A reader closed its read section (cheap unless over the limit with blocks retired).
    void sectionClosed()
    {
        if (_maxMem && _memUsed.load(std::memory_order_relaxed) > int64_t(_maxMem)) sectionClosedOverLimit();
    }
    // Memory that eviction keeps free for allocations made where it cannot run (the growth of
    // a block table, under its lock); delta may be negative.
    void reserve(int64_t delta) { _reserved.fetch_add(delta, std::memory_order_relaxed); }

    // Traffic: a block was loaded (reload: again after its eviction).
    void noteLoad(size_t bytes, bool reload);
    uint64_t loadedBytes() const { return _loadedBytes.load(std::memory_order_relaxed); }
    uint64_t reloadedBytes() const { return _reloadedBytes.load(std::memory_order_relaxed); }
    // The peak of what the cache would have held had it never evicted anything.
    uint64_t peakWorkingSet() const { return _peakWorkingSet.load(std::memory_order_relaxed); }

    // The cache's open file handles (within the process's budget).
    OpenFileGroup& files() { return _files; }
    const OpenFileGroup& files() const { return _files; }
    void countBlockRead() { _blockReads.fetch_add(1, std::memory_order_relaxed); }
    uint64_t blockReads() const { return _blockReads.load(std::memory_order_relaxed); }

private:
    void sectionClosedOverLimit();
    void linkLocked(Block* block);
    void unlinkLocked(Block* block);
    void notePeakWorkingSet();

    const size_t _maxMem;
    OpenFileGroup _files;
    const std::shared_ptr<ReadSections> _sections;
    std::atomic<int64_t> _memUsed{0};
    std::atomic<int64_t> _peakMemUsed{0};
    std::atomic<uint64_t> _blockReads{0};
    std::atomic<uint64_t> _loadedBytes{0};
    std::atomic<uint64_t> _reloadedBytes{0};
    std::atomic<int64_t> _evictedBytes{0};  // evicted and not loaded again since
    std::atomic<uint64_t> _peakWorkingSet{0};
    std::atomic<int64_t> _reserved{0};

    std::mutex _ringMutex;
    Block* _hand = nullptr;  // the ring's oldest block; admitted blocks go just behind it
    size_t _ringCount = 0;
};

PTEX_NAMESPACE_END
