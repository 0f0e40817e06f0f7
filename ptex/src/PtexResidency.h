// DataResidency: a cache's bookkeeping of decoded data and open file handles across all its
// textures. It keeps the memory total, evicts unreferenced blocks least recently used first
// when the total passes maxMem (also from textures that are still held), and closes the file
// handles of the least recently reading textures beyond maxFiles. Evicted texels pass through
// the cache's read sections, which free them once no filter can still be reading them.
#pragma once

#include "PtexVersion.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

PTEX_NAMESPACE_BEGIN

class FaceBlock;
class ReadSections;

// Whoever owns evictable blocks: evicts one on the residency's request.
class ResidentBlockOwner {
public:
    // Evicts the block if no handle holds it and nothing else is in the way (a load of the
    // same texture in progress); its texels go to sections.retire. True if it was evicted.
    virtual bool tryEvict(FaceBlock& block, ReadSections& sections) = 0;

protected:
    ~ResidentBlockOwner() {}
};

// Whoever holds an open file handle counted against the limit of open files.
class OpenFileOwner {
public:
    // Closes the handle unless it is reading right now; true if closed.
    virtual bool tryCloseFile() = 0;

protected:
    ~OpenFileOwner() {}
};

class DataResidency {
public:
    DataResidency(int maxFiles, size_t maxMem);
    ~DataResidency();

    size_t maxMem() const { return _maxMem; }
    const std::shared_ptr<ReadSections>& sections() const { return _sections; }
    uint64_t epoch() const { return _epoch.load(std::memory_order_relaxed); }

    // Memory accounting; delta may be negative.
    void addMemory(int64_t delta);
    uint64_t memUsed() const { return uint64_t(_memUsed.load(std::memory_order_relaxed)); }
    uint64_t peakMemUsed() const { return uint64_t(_peakMemUsed.load(std::memory_order_relaxed)); }
    bool overLimit() const { return _maxMem && _memUsed.load(std::memory_order_relaxed) > int64_t(_maxMem); }

    // Called by the block's owner once a block became resident / before it is freed.
    void blockLoaded(FaceBlock* block);
    void blockDropped(FaceBlock* block);

    // Evicts unreferenced blocks until the total is back under the limit. Must be called with
    // no reader lock held by this thread.
    void evictIfNeeded();

    // File handles: called by an owner holding its own lock when it opened / closed its handle.
    // fileOpened may close the handles of others beyond the limit.
    void fileOpened(OpenFileOwner* owner);
    void fileClosed(OpenFileOwner* owner);
    void countBlockRead() { _blockReads.fetch_add(1, std::memory_order_relaxed); }

    uint64_t filesOpen() const;
    uint64_t peakFilesOpen() const;
    uint64_t totalOpens() const;
    uint64_t blockReads() const { return _blockReads.load(std::memory_order_relaxed); }

private:
    void unlinkLocked(FaceBlock* block);

    const size_t _maxMem;
    const int _maxFiles;
    const std::shared_ptr<ReadSections> _sections;
    std::atomic<int64_t> _memUsed{0};
    std::atomic<int64_t> _peakMemUsed{0};
    std::atomic<uint64_t> _epoch{1};
    std::atomic<uint64_t> _blockReads{0};
    // Epoch of the last eviction pass that could not get under the limit (everything held):
    // until something new is loaded, further passes could free no more than handles released
    // since, so releases do not rescan the list on every call.
    std::atomic<uint64_t> _futileEpoch{0};

    std::mutex _lruMutex;
    FaceBlock* _lruHead = nullptr;
    FaceBlock* _lruTail = nullptr;

    mutable std::mutex _filesMutex;
    std::list<OpenFileOwner*> _openFiles;  // least recently used first
    uint64_t _peakFilesOpen = 0;
    uint64_t _totalOpens = 0;
};

PTEX_NAMESPACE_END
