// ReadSections: how filters read a cache's resident texels without taking a handle on every
// block they touch. A filter opens a section around each evaluation by publishing the cache's
// current epoch in a slot of its own. Eviction then no longer frees the texels it takes away
// but retires them under the epoch of the moment, and frees them once every open section is
// known to have started later (or none is open).
//
// Opening a section is a plain store. What makes that store visible to the evicting thread
// before the section reads any block is paid for on the evicting side: it runs a process-wide
// memory barrier (Linux membarrier, private expedited) before it looks at the slots. Where that
// system call is unavailable, both sides use fences instead.
#pragma once

#include "PtexVersion.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

PTEX_NAMESPACE_BEGIN

class ReadSections {
public:
    // One per filter; on its own cache line, written only by the thread running the filter.
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

    void open(Slot& slot) noexcept
    {
        const uint64_t epoch = _epoch.load(std::memory_order_acquire);
#if defined(__SANITIZE_THREAD__)
        // The sanitizer does not model fences: its builds open with a sequentially consistent
        // store instead (a locked exchange on x86, which orders it before the section's loads),
        // matched by the evicting side's read-modify-writes.
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

    // Evicting side, serialised by the caller. reserve makes room for one retirement (false
    // when out of memory: the block must then stay resident); retire takes ownership of texels
    // no longer published (no reader can newly find them); reclaim frees every retired block
    // that no open section can still be reading and returns the bytes freed.
    bool reserve() noexcept;
    void retire(uint8_t* texels, size_t bytes) noexcept;
    size_t reclaim();
    size_t retiredBytes() const { return _retiredBytes.load(std::memory_order_relaxed); }

private:
    struct Retired {
        uint8_t* texels;
        size_t bytes;
        uint64_t epoch;
    };

    bool barrier() noexcept;

    const bool _asymmetric;
    std::atomic<uint64_t> _epoch{1};
    std::atomic<size_t> _retiredBytes{0};
    std::vector<Retired> _retired;  // serialised by the caller of retire/reclaim

    std::mutex _slotsMutex;
    std::vector<std::unique_ptr<Slot>> _slots;
};

PTEX_NAMESPACE_END
