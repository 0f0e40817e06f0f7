#include "ResultCache.h"

#include <algorithm>
#include <new>

bool ResultCache::resize(int32_t n, bool exact) noexcept
{
    if (n < 0 || n > kMaxSlot + 1) return false;
    if (n <= capacity) {
        count = n;
        return true;
    }
    // n <= kMaxSlot + 1, so the rounded capacity stays far from overflowing.
    const int32_t newCapacity = exact ? n : n + step - (n % step);
    std::unique_ptr<ResultCacheEntry[]> grown(new (std::nothrow) ResultCacheEntry[newCapacity]);
    if (!grown) return false;
    if (count > 0) std::copy(entries.get(), entries.get() + count, grown.get());
    entries = std::move(grown);
    capacity = newCapacity;
    count = n;
    return true;
}

void ResultCache::storeGrowing(int32_t slot, uint32_t key, const TUtils::Color& color) noexcept
{
    if (key == 0 || slot < 0 || slot >= kMaxSlot) return;
    if (slot >= count) {
        const int32_t oldCount = count;
        if (!resize(slot + 1, false)) return;
        for (int32_t i = oldCount; i < slot; ++i) entries[i].key = 0;
    }
    entries[slot].key = key;
    entries[slot].color = color;
}

void ResultCache::clearKeys() noexcept
{
    for (int32_t i = 0; i < count; ++i) entries[i].key = 0;
}

ResultCacheArray makeResultCaches(int32_t n) noexcept
{
    if (n <= 0) return nullptr;
    ResultCacheArray caches(new (std::nothrow) std::unique_ptr<ResultCache>[n]);
    if (!caches) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
        // ResultCache is alignas(128): this new takes a separate 128-byte-aligned block.
        caches[i].reset(new (std::nothrow) ResultCache);
        if (!caches[i]) return nullptr;
    }
    return caches;
}
