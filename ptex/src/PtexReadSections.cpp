// Read sections: slot registry, thread slots, retirement, and the reclaim scan.
#include "PtexReadSections.h"

#include <pthread.h>

#include <algorithm>

#if defined(__linux__)
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

PTEX_NAMESPACE_BEGIN

namespace {

// Registers the process for expedited private membarriers once; false where the kernel (or a
// sandbox's system call filter) does not offer them, and in ThreadSanitizer builds.
bool asymmetricBarrierAvailable()
{
#if defined(__linux__) && defined(SYS_membarrier) && !defined(__SANITIZE_THREAD__)
    static const bool available = [] {
        const long commands = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0, 0);
        if (commands < 0 || !(commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED)) return false;
        return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
    }();
    return available;
#else
    return false;
#endif
}

// A non-zero number for the calling thread, unique among live threads.
uint64_t threadId()
{
    const uint64_t id = uint64_t(pthread_self());
    return id ? id : 1;
}

}  // namespace

ReadSections::ReadSections() : _asymmetric(asymmetricBarrierAvailable()) {}

ReadSections::~ReadSections()
{
    // Every section is closed by now: the readers holding slots hold this registry too.
    RetiredNode* node = _retiredHead;
    while (node) {
        RetiredNode* next = node->next;
        node->destroy(node->object);
        node = next;
    }
}

ReadSections::Slot* ReadSections::newSlot() noexcept
{
    try {
        std::lock_guard<std::mutex> lock(_slotsMutex);
        for (const auto& slot : _slots) {
            if (!slot->inUse) {
                slot->inUse = true;
                return slot.get();
            }
        }
        _slots.reserve(_slots.size() + 1);
        _slots.push_back(std::make_unique<Slot>());
        _slots.back()->inUse = true;
        return _slots.back().get();
    } catch (...) {
        return nullptr;
    }
}

ReadSections::Slot* ReadSections::acquireSlot() noexcept { return newSlot(); }

void ReadSections::releaseSlot(Slot* slot) noexcept
{
    if (!slot) return;
    slot->epoch.store(0, std::memory_order_release);
    std::lock_guard<std::mutex> lock(_slotsMutex);
    slot->inUse = false;
}

ReadSections::Slot* ReadSections::threadSlot() noexcept
{
    const uint64_t self = threadId();
    const unsigned start = unsigned((self * 0x9e3779b97f4a7c15ull) >> 60);  // 0..15
    for (int i = 0; i < kThreadSlots; ++i) {
        ThreadEntry& entry = _threads[(start + unsigned(i)) % kThreadSlots];
        uint64_t owner = entry.thread.load(std::memory_order_acquire);
        if (owner == 0) {
            // Claim the entry; only this thread ever reads it afterwards. A thread that ended
            // leaves its entry to the next thread that gets the same id.
            if (!entry.thread.compare_exchange_strong(owner, self, std::memory_order_acq_rel)) {
                if (owner != self) continue;
            } else {
                entry.slot.store(newSlot(), std::memory_order_release);
            }
            return entry.slot.load(std::memory_order_acquire);
        }
        if (owner == self) return entry.slot.load(std::memory_order_acquire);
    }
    return nullptr;
}

void ReadSections::retire(RetiredNode& node) noexcept
{
    // The caller unpublished the object before this load: a section that can still see it
    // announced this epoch or an earlier one.
    node.epoch = _epoch.load(std::memory_order_seq_cst);
    node.next = nullptr;
    std::lock_guard<std::mutex> lock(_retireMutex);
    if (_retiredTail)
        _retiredTail->next = &node;
    else
        _retiredHead = &node;
    _retiredTail = &node;
    _retiredBytes.fetch_add(node.bytes, std::memory_order_relaxed);
}

bool ReadSections::barrier() noexcept
{
#if defined(__SANITIZE_THREAD__)
    return true;  // see open: sequentially consistent accesses on both sides
#else
    std::atomic_thread_fence(std::memory_order_seq_cst);
#if defined(__linux__) && defined(SYS_membarrier)
    if (_asymmetric) return syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) == 0;
#endif
    return true;
#endif
}

uint64_t ReadSections::oldestOpenEpoch(std::memory_order order)
{
    uint64_t oldest = UINT64_MAX;
    std::lock_guard<std::mutex> lock(_slotsMutex);
    for (const auto& slot : _slots) {
        const uint64_t e = slot->epoch.load(order);
        if (e != 0) oldest = std::min(oldest, e);
    }
    return oldest;
}

size_t ReadSections::reclaim()
{
    std::lock_guard<std::mutex> lock(_retireMutex);
    if (!_retiredHead) return 0;
    // Retirements are listed in epoch order. Without a barrier the slots may look staler than
    // they are, never fresher in a way that frees too much: a section seen open at or before
    // the oldest retirement will still be found open below, so the barrier can wait.
    if (oldestOpenEpoch(std::memory_order_acquire) <= _retiredHead->epoch) {
        // Sections opened from now on start after every retirement so far, so that a later
        // reclaim can free them even while readers keep opening sections.
        _epoch.fetch_add(1, std::memory_order_seq_cst);
        return 0;
    }
    // Sections opened after this increment cannot see anything retired above.
    _epoch.fetch_add(1, std::memory_order_seq_cst);
    // After the barrier, a section whose opening store is not visible below cannot have read
    // anything retired above.
    if (!barrier()) return 0;
    const uint64_t oldestOpen = oldestOpenEpoch(std::memory_order_seq_cst);
    size_t freed = 0;
    while (_retiredHead && _retiredHead->epoch < oldestOpen) {
        RetiredNode* node = _retiredHead;
        _retiredHead = node->next;
        if (!_retiredHead) _retiredTail = nullptr;
        freed += node->bytes;
        node->destroy(node->object);
    }
    _retiredBytes.fetch_sub(freed, std::memory_order_relaxed);
    return freed;
}

PTEX_NAMESPACE_END
