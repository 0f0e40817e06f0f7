#include "ResultCache.h"

#include <gtest/gtest.h>

#include <cstdint>

using TUtils::Color;

TEST(ResultCache, GrowsInStepsOfThirtyAndEmptiesSkippedSlots)
{
    ResultCache cache;
    const Color red{1, 0, 0, 1};
    cache.store(0, 7, red);
    EXPECT_EQ(cache.capacity, 30);
    EXPECT_EQ(cache.count, 1);
    cache.store(29, 8, red);
    EXPECT_EQ(cache.count, 30);
    EXPECT_EQ(cache.capacity, 30);
    for (int32_t slot = 1; slot < 29; ++slot) EXPECT_EQ(cache.entries[slot].key, 0u) << slot;
    cache.store(30, 9, red);
    EXPECT_EQ(cache.capacity, 60) << "a multiple of 30 grows by a whole step";
    EXPECT_EQ(cache.count, 31);
    ASSERT_NE(cache.find(0, 7), nullptr) << "growth keeps the old entries";
    EXPECT_EQ(*cache.find(0, 7), red);
    EXPECT_EQ(cache.find(0, 8), nullptr) << "another key misses";
    EXPECT_EQ(cache.find(31, 9), nullptr) << "a slot past count misses";

    EXPECT_TRUE(cache.resize(5, true));
    EXPECT_EQ(cache.count, 5);
    EXPECT_EQ(cache.capacity, 60) << "shrinking keeps the storage";
    EXPECT_TRUE(cache.resize(61, true));
    EXPECT_EQ(cache.capacity, 61) << "exact growth";
}

TEST(ResultCache, KeyZeroAndBadSlotsAreNeverCached)
{
    ResultCache cache;
    const Color blue{0, 0, 1, 1};
    // Key 0 marks empty entries: a point with key 0 would otherwise match them.
    cache.store(3, 0, blue);
    EXPECT_EQ(cache.count, 0);
    cache.store(3, 5, blue);
    cache.clearKeys();
    EXPECT_EQ(cache.count, 4) << "clearing keeps count and colours";
    EXPECT_EQ(cache.find(3, 0), nullptr) << "an emptied entry is not answered for key 0";
    EXPECT_EQ(cache.find(3, 5), nullptr);
    EXPECT_EQ(cache.find(0, 0), nullptr);

    // A negative slot would read before the array; a huge one would ask for gigabytes.
    for (int32_t slot : {-1, INT32_MIN, ResultCache::kMaxSlot, INT32_MAX - 1, INT32_MAX}) {
        cache.store(slot, 5, blue);
        EXPECT_EQ(cache.find(slot, 5), nullptr) << slot;
    }
    EXPECT_EQ(cache.count, 4);
    EXPECT_FALSE(cache.resize(-1, false));
    EXPECT_FALSE(cache.resize(INT32_MAX, false));
    EXPECT_EQ(cache.count, 4);
    cache.store(ResultCache::kMaxSlot - 1, 5, blue);
    EXPECT_NE(cache.find(ResultCache::kMaxSlot - 1, 5), nullptr) << "the last slot below the bound is cached";
}

TEST(ResultCache, EveryThreadsCacheHasItsOwnAlignedBlock)
{
    EXPECT_EQ(makeResultCaches(0), nullptr);
    EXPECT_EQ(makeResultCaches(-3), nullptr);
    ResultCacheArray caches = makeResultCaches(8);
    ASSERT_NE(caches, nullptr);
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(caches[i], nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(caches[i].get()) % 128, 0u);
        EXPECT_EQ(caches[i]->count, 0);
        EXPECT_EQ(caches[i]->capacity, 0);
        EXPECT_EQ(caches[i]->step, 30);
        for (int j = 0; j < i; ++j)
            EXPECT_GE(
                std::abs(reinterpret_cast<intptr_t>(caches[i].get()) - reinterpret_cast<intptr_t>(caches[j].get())),
                128);
    }
}
