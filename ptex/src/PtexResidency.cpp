// Memory, the clock over published blocks, traffic figures and file handles of one cache.

#include "PtexResidency.h"

#include "PtexBlock.h"
#include "PtexReadSections.h"

#include <algorithm>

PTEX_NAMESPACE_BEGIN

namespace {

// Eviction runs in batches of this share of the limit, so that the memory barrier of a
// reclaim is paid once per batch rather than per load.
constexpr int64_t kBatchDivisor = 64;
constexpr int64_t kMinBatch = 16 * 1024;

}  // namespace

DataResidency::DataResidency(int maxFiles, size_t maxMem)
    : _maxMem(maxMem), _files(maxFiles), _sections(std::make_shared<ReadSections>())
{}

DataResidency::~DataResidency() {}

void DataResidency::addMemory(int64_t delta)
{
    const int64_t now = _memUsed.fetch_add(delta, std::memory_order_relaxed) + delta;
    int64_t peak = _peakMemUsed.load(std::memory_order_relaxed);
    while (now > peak && !_peakMemUsed.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {}
    if (delta > 0) notePeakWorkingSet();
}

void DataResidency::notePeakWorkingSet()
{
    // What is held, less what only waits to be freed, plus what was evicted and is still away.
    const int64_t live = _memUsed.load(std::memory_order_relaxed) - int64_t(_sections->retiredBytes());
    const uint64_t now =
        uint64_t(std::max<int64_t>(0, live + std::max<int64_t>(0, _evictedBytes.load(std::memory_order_relaxed))));
    uint64_t peak = _peakWorkingSet.load(std::memory_order_relaxed);
    while (now > peak && !_peakWorkingSet.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {}
}

void DataResidency::noteLoad(size_t bytes, bool reload)
{
    _loadedBytes.fetch_add(bytes, std::memory_order_relaxed);
    if (!reload) return;
    _reloadedBytes.fetch_add(bytes, std::memory_order_relaxed);
    _evictedBytes.fetch_sub(int64_t(bytes), std::memory_order_relaxed);
}

void DataResidency::linkLocked(Block* block)
{
    if (!_hand) {
        block->ringPrev = block->ringNext = block;
        _hand = block;
    } else {
        // Just behind the hand: the last block it reaches.
        block->ringNext = _hand;
        block->ringPrev = _hand->ringPrev;
        _hand->ringPrev->ringNext = block;
        _hand->ringPrev = block;
    }
    ++_ringCount;
}

void DataResidency::unlinkLocked(Block* block)
{
    if (!block->ringNext) return;
    if (block->ringNext == block) {
        _hand = nullptr;
    } else {
        block->ringPrev->ringNext = block->ringNext;
        block->ringNext->ringPrev = block->ringPrev;
        if (_hand == block) _hand = block->ringNext;
    }
    block->ringPrev = block->ringNext = nullptr;
    --_ringCount;
}

void DataResidency::admit(Block* block)
{
    // Without a limit nothing is ever evicted: the ring would only cost a lock per load.
    if (!_maxMem) return;
    std::lock_guard<std::mutex> lock(_ringMutex);
    linkLocked(block);
}

void DataResidency::discard(Block* block)
{
    if (!block) return;
    if (block->ringNext) {
        std::lock_guard<std::mutex> lock(_ringMutex);
        unlinkLocked(block);
    }
    addMemory(-int64_t(block->bytes));
    Block::destroy(block);
}

void DataResidency::discardAll(Block* const* blocks, size_t count)
{
    int64_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(_ringMutex);
        for (size_t i = 0; i < count; ++i) unlinkLocked(blocks[i]);
    }
    for (size_t i = 0; i < count; ++i) {
        bytes += int64_t(blocks[i]->bytes);
        Block::destroy(blocks[i]);
    }
    addMemory(-bytes);
}

void DataResidency::reclaim() { addMemory(-int64_t(_sections->reclaim())); }

void DataResidency::sectionClosedOverLimit()
{
    // What a reader evicted inside its own section could not be freed then; once over the
    // limit it is freed as soon as the section is over.
    if (_sections->retiredBytes()) reclaim();
}

void DataResidency::makeRoom(size_t bytes)
{
    if (!_maxMem) return;
    const int64_t limit = int64_t(_maxMem);
    const int64_t batch = std::max(limit / kBatchDivisor, kMinBatch);
    const int64_t incoming = int64_t(bytes) + _reserved.load(std::memory_order_relaxed);
    if (_memUsed.load(std::memory_order_relaxed) + incoming + batch <= limit) return;

    std::lock_guard<std::mutex> lock(_ringMutex);
    // What earlier batches retired is usually free to go by now.
    reclaim();
    // Live data (what is not retired already) go down to two batches below the limit, so
    // that the batch retired now can wait for the sections that may still read it.
    const int64_t goal = limit - 2 * batch - incoming;
    auto live = [this] { return _memUsed.load(std::memory_order_relaxed) - int64_t(_sections->retiredBytes()); };
    // The hand passes a block again only after it was used since (its mark set) or while a
    // handle holds it, so a batch costs steps in proportion to what it evicts. It looks at each
    // block at most twice per call: a block used since the last call gets past the first look,
    // and a ring of blocks that are all held is not circled forever.
    size_t steps = 2 * _ringCount + 1;
    while (_hand && live() > goal && steps-- > 0) {
        Block* block = _hand;
        if (block->recent.load(std::memory_order_relaxed)) {
            block->recent.store(0, std::memory_order_relaxed);
            _hand = block->ringNext;
            continue;
        }
        if (!block->owner->evict(*block)) {
            _hand = block->ringNext;
            continue;
        }
        unlinkLocked(block);
        _evictedBytes.fetch_add(int64_t(block->bytes), std::memory_order_relaxed);
        block->retired.bytes = block->bytes;
        _sections->retire(block->retired);
    }
    reclaim();
}

Block* DataResidency::makeBlock(int kind, Res res, int pixelSize, size_t payloadBytes)
{
    makeRoom(sizeof(Block) + payloadBytes);
    Block* block = Block::create(Block::Kind(kind), res, pixelSize, payloadBytes);
    if (block) addMemory(int64_t(block->bytes));
    return block;
}

PTEX_NAMESPACE_END
