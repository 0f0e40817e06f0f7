// Read sections: slot registry, retirement of evicted texels, and the reclaim scan.
#include "PtexReadSections.h"

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

}  // namespace

ReadSections::ReadSections() : _asymmetric(asymmetricBarrierAvailable()) {}

ReadSections::~ReadSections()
{
    // Every section is closed by now: the filters holding slots hold this registry too.
    for (const Retired& r : _retired) delete[] r.texels;
}

ReadSections::Slot* ReadSections::acquireSlot() noexcept
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

void ReadSections::releaseSlot(Slot* slot) noexcept
{
    if (!slot) return;
    slot->epoch.store(0, std::memory_order_release);
    std::lock_guard<std::mutex> lock(_slotsMutex);
    slot->inUse = false;
}

bool ReadSections::reserve() noexcept
{
    try {
        _retired.reserve(_retired.size() + 1);
        return true;
    } catch (...) {
        return false;
    }
}

void ReadSections::retire(uint8_t* texels, size_t bytes) noexcept
{
    if (!texels) return;
    // The caller made the block non-resident before this load: a section that read the
    // texels announced this epoch or an earlier one.
    const uint64_t epoch = _epoch.load(std::memory_order_seq_cst);
    _retired.push_back(Retired{texels, bytes, epoch});  // room reserved beforehand
    _retiredBytes.fetch_add(bytes, std::memory_order_relaxed);
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

size_t ReadSections::reclaim()
{
    if (_retired.empty()) return 0;
    // Sections opened after this increment see every retirement above as non-resident.
    _epoch.fetch_add(1, std::memory_order_seq_cst);
    // After the barrier, a section whose opening store is not visible below cannot have read
    // any block before the retirements above.
    if (!barrier()) return 0;
    uint64_t oldestOpen = UINT64_MAX;
    {
        std::lock_guard<std::mutex> lock(_slotsMutex);
        for (const auto& slot : _slots) {
            const uint64_t e = slot->epoch.load(std::memory_order_seq_cst);
            if (e != 0) oldestOpen = std::min(oldestOpen, e);
        }
    }
    size_t freed = 0;
    auto keep = _retired.begin();
    for (auto it = _retired.begin(); it != _retired.end(); ++it) {
        if (it->epoch < oldestOpen) {
            delete[] it->texels;
            freed += it->bytes;
        } else {
            *keep++ = *it;
        }
    }
    _retired.erase(keep, _retired.end());
    _retiredBytes.fetch_sub(freed, std::memory_order_relaxed);
    return freed;
}

PTEX_NAMESPACE_END
