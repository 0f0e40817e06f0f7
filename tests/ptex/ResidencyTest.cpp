// The residency on its own, with a fake owner in place of a texture: the clock evicts what
// was not used since its last pass and never what a handle holds, keeps the total under the
// limit, retires evicted blocks until no read section can see them, and counts reloads and
// the working set that would have fitted without eviction.
#include "PtexBlock.h"
#include "PtexReadSections.h"
#include "PtexResidency.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

using Ptex::Block;
using Ptex::DataResidency;

constexpr size_t kPayload = 4096;
constexpr size_t kLimit = 256 * 1024;

class FakeOwner final : public Ptex::ResidentBlockOwner {
public:
    bool evict(Block& block) override
    {
        int expected = 0;
        if (!block.refs.compare_exchange_strong(expected, -1)) return false;
        published.erase(&block);
        evicted.push_back(block.key);
        return true;
    }
    std::set<Block*> published;
    std::vector<uint64_t> evicted;
};

struct Fixture {
    DataResidency residency{0, kLimit};
    FakeOwner owner;

    Block* add(uint64_t key)
    {
        Block* block = residency.makeBlock(Block::kPacked, Ptex::Res(5, 5), 4, kPayload);
        EXPECT_NE(block, nullptr);
        block->key = key;
        block->owner = &owner;
        block->refs.store(0);
        owner.published.insert(block);
        residency.admit(block);
        return block;
    }
    ~Fixture()
    {
        std::vector<Block*> left(owner.published.begin(), owner.published.end());
        residency.discardAll(left.data(), left.size());
    }
};

TEST(Residency, TheClockSparesUsedAndHeldBlocksAndKeepsUnderTheLimit)
{
    Fixture fx;
    std::vector<Block*> blocks;
    const uint64_t perBlock = sizeof(Block) + kPayload;
    // Fill to just under the limit: nothing is evicted yet.
    const size_t fitting = kLimit / perBlock - 8;
    for (size_t i = 0; i < fitting; ++i) blocks.push_back(fx.add(i));
    EXPECT_TRUE(fx.owner.evicted.empty());
    blocks[0]->markUsed();    // used since the hand last passed: another round
    blocks[1]->tryAcquire();  // held by a handle: never evicted
    for (uint64_t i = fitting; i < fitting + 200; ++i) {
        fx.add(i);
        EXPECT_LE(fx.residency.memUsed(), kLimit) << "block " << i;
    }
    ASSERT_FALSE(fx.owner.evicted.empty());
    EXPECT_EQ(fx.owner.evicted[0], 2u) << "oldest unused first";
    EXPECT_TRUE(std::is_sorted(fx.owner.evicted.begin(), fx.owner.evicted.begin() + 10));
    EXPECT_EQ(std::count(fx.owner.evicted.begin(), fx.owner.evicted.end(), 1u), 0) << "held";
    auto at = [&fx](uint64_t key) {
        return std::find(fx.owner.evicted.begin(), fx.owner.evicted.end(), key) - fx.owner.evicted.begin();
    };
    EXPECT_GT(at(0), at(fitting - 1)) << "a used block gets one more round of the hand";
    EXPECT_LT(at(0), at(fitting + 60)) << "but no more than one";
    blocks[1]->release();
}

TEST(Residency, EvictedBlocksWaitForOpenSectionsAndAreCountedUntilFreed)
{
    Fixture fx;
    Ptex::ReadSections& sections = *fx.residency.sections();
    Ptex::ReadSections::Slot* slot = sections.acquireSlot();
    ASSERT_NE(slot, nullptr);
    const size_t fitting = kLimit / (sizeof(Block) + kPayload) - 8;
    for (size_t i = 0; i < fitting; ++i) fx.add(i);
    sections.open(*slot);
    for (uint64_t i = fitting; i < fitting + 40; ++i) fx.add(i);
    ASSERT_FALSE(fx.owner.evicted.empty());
    const size_t retired = sections.retiredBytes();
    EXPECT_GT(retired, 0u) << "a reader inside its section may still use what was evicted";
    fx.residency.reclaim();
    EXPECT_EQ(sections.retiredBytes(), retired);
    sections.close(*slot);
    const uint64_t before = fx.residency.memUsed();
    fx.residency.reclaim();
    fx.residency.reclaim();  // the first may only move the epoch on
    EXPECT_EQ(sections.retiredBytes(), 0u);
    EXPECT_EQ(fx.residency.memUsed(), before - retired);
    sections.releaseSlot(slot);
}

TEST(Residency, ReloadsAndTheWorkingSetAreCounted)
{
    Fixture fx;
    for (uint64_t i = 0; i < 200; ++i) {
        fx.add(i);
        fx.residency.noteLoad(sizeof(Block) + kPayload, false);
    }
    const uint64_t perBlock = sizeof(Block) + kPayload;
    EXPECT_EQ(fx.residency.loadedBytes(), 200 * perBlock);
    EXPECT_EQ(fx.residency.reloadedBytes(), 0u);
    // Without eviction all 200 blocks would have been held at once.
    EXPECT_GE(fx.residency.peakWorkingSet(), 200 * perBlock);
    EXPECT_LE(fx.residency.peakMemUsed(), kLimit);
    fx.residency.noteLoad(perBlock, true);
    EXPECT_EQ(fx.residency.reloadedBytes(), perBlock);
}

}  // namespace
