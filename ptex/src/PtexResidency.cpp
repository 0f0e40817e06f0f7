// Memory and file-handle bookkeeping shared by the textures of one cache.

#include "PtexResidency.h"

#include "PtexFaceBlock.h"
#include "PtexReadSections.h"

#include <algorithm>
#include <utility>
#include <vector>

PTEX_NAMESPACE_BEGIN

DataResidency::DataResidency(int maxFiles, size_t maxMem)
    : _maxMem(maxMem), _maxFiles(maxFiles <= 0 ? 100 : maxFiles), _sections(std::make_shared<ReadSections>())
{}

DataResidency::~DataResidency() {}

void DataResidency::addMemory(int64_t delta)
{
    int64_t now = _memUsed.fetch_add(delta, std::memory_order_relaxed) + delta;
    int64_t peak = _peakMemUsed.load(std::memory_order_relaxed);
    while (now > peak && !_peakMemUsed.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {}
}

void DataResidency::blockLoaded(FaceBlock* block)
{
    _epoch.fetch_add(1, std::memory_order_relaxed);
    if (!_maxMem) return;
    std::lock_guard<std::mutex> lock(_lruMutex);
    if (block->inLru) return;
    block->lruPrev = _lruTail;
    block->lruNext = nullptr;
    if (_lruTail)
        _lruTail->lruNext = block;
    else
        _lruHead = block;
    _lruTail = block;
    block->inLru = true;
}

void DataResidency::unlinkLocked(FaceBlock* block)
{
    if (!block->inLru) return;
    if (block->lruPrev)
        block->lruPrev->lruNext = block->lruNext;
    else
        _lruHead = block->lruNext;
    if (block->lruNext)
        block->lruNext->lruPrev = block->lruPrev;
    else
        _lruTail = block->lruPrev;
    block->lruPrev = block->lruNext = nullptr;
    block->inLru = false;
}

void DataResidency::blockDropped(FaceBlock* block)
{
    std::lock_guard<std::mutex> lock(_lruMutex);
    unlinkLocked(block);
}

void DataResidency::evictIfNeeded()
{
    if (!overLimit() || _futileEpoch.load(std::memory_order_relaxed) == epoch()) return;
    std::lock_guard<std::mutex> lock(_lruMutex);
    if (!overLimit()) return;
    // Evict down to 7/8 of the limit so that eviction runs in batches, not on every load.
    // Retired texels still count in the total but cannot be evicted again: the target is
    // for what is resident.
    const int64_t target = int64_t(_maxMem - _maxMem / 8);
    auto resident = [this] { return _memUsed.load(std::memory_order_relaxed) - int64_t(_sections->retiredBytes()); };
    // Readers stamp lastUse without this lock, so the stamps are copied once before sorting: a
    // key that changes during the sort breaks its ordering and lets it run off the array.
    std::vector<std::pair<uint64_t, FaceBlock*>> candidates;
    for (FaceBlock* b = _lruHead; b; b = b->lruNext)
        if (b->refs.load(std::memory_order_relaxed) == 0)
            candidates.emplace_back(b->lastUse.load(std::memory_order_relaxed), b);
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& candidate : candidates) {
        FaceBlock* block = candidate.second;
        if (resident() <= target) break;
        // Owners never wait for their own lock here while the list is held: one that is loading
        // takes the list's lock after its own.
        if (block->residencyOwner->tryEvict(*block, *_sections)) unlinkLocked(block);
    }
    // Free what no open read section can be reading any more (all of it when no filter is
    // between the start and end of an evaluation).
    addMemory(-int64_t(_sections->reclaim()));
    if (overLimit()) _futileEpoch.store(epoch(), std::memory_order_relaxed);
}

void DataResidency::fileOpened(OpenFileOwner* owner)
{
    std::lock_guard<std::mutex> lock(_filesMutex);
    ++_totalOpens;
    _openFiles.remove(owner);
    _openFiles.push_back(owner);
    // Close the least recently opened handles beyond the limit, skipping owners that are
    // reading right now.
    auto it = _openFiles.begin();
    while (_openFiles.size() > size_t(_maxFiles) && it != _openFiles.end()) {
        OpenFileOwner* other = *it;
        if (other != owner && other->tryCloseFile())
            it = _openFiles.erase(it);
        else
            ++it;
    }
    _peakFilesOpen = std::max<uint64_t>(_peakFilesOpen, _openFiles.size());
}

void DataResidency::fileClosed(OpenFileOwner* owner)
{
    std::lock_guard<std::mutex> lock(_filesMutex);
    _openFiles.remove(owner);
}

uint64_t DataResidency::filesOpen() const
{
    std::lock_guard<std::mutex> lock(_filesMutex);
    return _openFiles.size();
}

uint64_t DataResidency::peakFilesOpen() const
{
    std::lock_guard<std::mutex> lock(_filesMutex);
    return _peakFilesOpen;
}

uint64_t DataResidency::totalOpens() const
{
    std::lock_guard<std::mutex> lock(_filesMutex);
    return _totalOpens;
}

PTEX_NAMESPACE_END
