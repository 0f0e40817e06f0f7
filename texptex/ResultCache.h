// ResultCache: the per-render-thread cache of evaluated colours, addressed by the shading point's
// cache slot and checked by its key. One cache per render thread, each on its own 128-byte-aligned
// block so that two threads never write the same cache line.
#pragma once

#include <tarsk/Color.h>

#include <cstdint>
#include <memory>

struct ResultCacheEntry {
    uint32_t key;         // 0 marks an empty entry (fresh, or emptied at frame start)
    TUtils::Color color;  // exactly as evalColor returned it
};

struct alignas(128) ResultCache {
    // Growth granularity of `resize` with exact = false.
    static constexpr int32_t kStep = 30;
    // Slots at or above this bound are never cached: a host slot number that large is a fault
    // and would ask for gigabytes per thread (1 Mi entries are 20 MiB).
    static constexpr int32_t kMaxSlot = 1 << 20;

    int32_t count = 0;  // entries in use
    int32_t step = kStep;
    int32_t capacity = 0;  // entries allocated
    std::unique_ptr<ResultCacheEntry[]> entries;

    // Sets count to n, growing the storage when n > capacity: to n when exact, otherwise to the
    // next multiple of `step` above n (a multiple itself grows by a whole step). New entries are
    // not initialised. False, with the cache unchanged, when n is negative or past kMaxSlot + 1,
    // or when the allocation fails.
    bool resize(int32_t n, bool exact) noexcept;

    // The stored colour of `slot` when its key equals `key`; null otherwise. Key 0 never matches,
    // so emptied entries (which keep an earlier frame's colour) and fresh ones are never answered.
    const TUtils::Color* find(int32_t slot, uint32_t key) const noexcept
    {
        if (key == 0 || slot < 0 || slot >= count) return nullptr;
        const ResultCacheEntry& entry = entries[slot];
        return entry.key == key ? &entry.color : nullptr;
    }

    // Stores `color` under `key` in `slot`, growing the cache when needed and clearing the keys of
    // the slots skipped over. Does nothing for key 0, a slot outside 0 ... kMaxSlot - 1, or when
    // growth fails: the point is then simply not cached.
    // The common case, a slot the cache already holds, is inline; growth takes the out-of-line path.
    void store(int32_t slot, uint32_t key, const TUtils::Color& color) noexcept
    {
        if (key != 0 && slot >= 0 && slot < count) {
            entries[slot].key = key;
            entries[slot].color = color;
            return;
        }
        storeGrowing(slot, key, color);
    }
    void storeGrowing(int32_t slot, uint32_t key, const TUtils::Color& color) noexcept;

    // Empties every entry in use by clearing its key; colours and count stay.
    void clearKeys() noexcept;
};

// The per-thread caches of one instance, one per render thread.
using ResultCacheArray = std::unique_ptr<std::unique_ptr<ResultCache>[]>;

// `n` new, empty caches, each on its own 128-byte-aligned block; null when n is not positive or
// an allocation fails.
ResultCacheArray makeResultCaches(int32_t n) noexcept;
