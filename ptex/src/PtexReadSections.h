// ReadSections: how readers use a cache's published blocks without locks. A reader opens a
// section around each use by publishing the cache's current epoch in a slot of its own: a
// filter in its own slot around each evaluation, any other caller in its thread's slot around
// one lookup. What eviction or a table's growth takes away is then not freed but retired under
// the epoch of the moment, and freed once every open section is known to have started later
// (or none is open).
//
// Opening a section is a plain store. What makes that store visible to the reclaiming thread
// before the section reads any block is paid for on the reclaiming side: it runs a
// process-wide memory barrier (Linux membarrier, private expedited) before it looks at the
// slots. Where that system call is unavailable, both sides use fences instead.
#pragma once

#include "PtexVersion.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

PTEX_NAMESPACE_BEGIN

// Something retired: links itself into the retired list, so that retiring never allocates.
struct RetiredNode {
    RetiredNode* next = nullptr;
    uint64_t epoch = 0;
    size_t bytes = 0;
    void (*destroy)(void* object) = nullptr;
    void* object = nullptr;
};

class ReadSections {
public:
    // One per reader; on its own cache line, written only by the thread that reads through it.
    struct alignas(64) Slot {
        std::atomic<uint64_t> epoch{0};  // 0: no section open
        bool inUse = false;              // guarded by the registry's mutex
    };

    ReadSections();
    ~ReadSections();
    ReadSections(const ReadSections&) = delete;
    ReadSections& operator=(const ReadSections&) = delete;

    // Slots are never freed before the registry, so a scan never meets a dangling one; a
    // released slot is handed out again. acquireSlot returns null when out of memory.
    Slot* acquireSlot() noexcept;
    void releaseSlot(Slot* slot) noexcept;
    // The calling thread's slot, claimed on its first use, for sections around single lookups.
    // Null when the registry's thread slots are all taken (or memory ran out): the caller then
    // reads under a lock instead.
    Slot* threadSlot() noexcept;

    void open(Slot& slot) noexcept
    {
        const uint64_t epoch = _epoch.load(std::memory_order_acquire);
#if defined(__SANITIZE_THREAD__)
        // The sanitizer does not model fences: its builds open with a sequentially consistent
        // store instead (a locked exchange on x86, which orders it before the section's loads),
        // matched by the reclaiming side's read-modify-writes.
        slot.epoch.store(epoch, std::memory_order_seq_cst);
#else
        slot.epoch.store(epoch, std::memory_order_release);
        if (_asymmetric)
            std::atomic_signal_fence(std::memory_order_seq_cst);
        else
            std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
    }
    void close(Slot& slot) noexcept { slot.epoch.store(0, std::memory_order_release); }

    // Takes ownership of something no reader can newly find (it was unpublished before this
    // call); destroy(object) runs once no open section can still be reading it.
    void retire(RetiredNode& node) noexcept;
    // Frees every retired object that no open section can still be reading; returns the bytes
    // freed. Cheap when nothing can be freed yet (no barrier then).
    size_t reclaim();
    size_t retiredBytes() const { return _retiredBytes.load(std::memory_order_relaxed); }

private:
    static constexpr int kThreadSlots = 16;
    struct ThreadEntry {
        std::atomic<uint64_t> thread{0};  // 0: free
        std::atomic<Slot*> slot{nullptr};
    };

    bool barrier() noexcept;
    uint64_t oldestOpenEpoch(std::memory_order order);
    Slot* newSlot() noexcept;

    const bool _asymmetric;
    std::atomic<uint64_t> _epoch{1};
    std::atomic<size_t> _retiredBytes{0};

    std::mutex _retireMutex;  // the retired list, and one reclaim at a time
    RetiredNode* _retiredHead = nullptr;
    RetiredNode* _retiredTail = nullptr;

    std::mutex _slotsMutex;
    std::vector<std::unique_ptr<Slot>> _slots;
    ThreadEntry _threads[kThreadSlots];
};

// Opens a section on a slot for one scope (nothing when the slot is null).
class SectionScope {
public:
    SectionScope(ReadSections& sections, ReadSections::Slot* slot) noexcept : _sections(sections), _slot(slot)
    {
        if (_slot) _sections.open(*_slot);
    }
    ~SectionScope()
    {
        if (_slot) _sections.close(*_slot);
    }
    SectionScope(const SectionScope&) = delete;
    SectionScope& operator=(const SectionScope&) = delete;

private:
    ReadSections& _sections;
    ReadSections::Slot* _slot;
};

PTEX_NAMESPACE_END
