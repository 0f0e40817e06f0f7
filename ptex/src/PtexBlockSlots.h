// BlockSlots: where a texture's published blocks are found, and the protocol by which they are
// published and evicted. Face images of the stored levels sit in pages of eight slots, one
// page pointer per eight faces of a level (a byte per face, made when the level is first
// used; a page only while one of its faces is published), so that faces read in their order
// are found in order. Everything else is keyed (blockKey) in an open-addressing table whose
// size follows the number of published blocks. Tiles are published in their directory. Lookups take no lock: inside a read section a reader uses what it finds as
// it is, any other caller takes a handle inside its thread's section. Publication, eviction
// and the table's growth take the slots' own lock, never a file lock; what they take away is
// retired through the read sections.
#pragma once

#include "PtexBlock.h"
#include "PtexReloadMarks.h"
#include "PtexResidency.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

PTEX_NAMESPACE_BEGIN

class BlockSlots final : public ResidentBlockOwner {
public:
    // numFaces, numLevels: for the marks that tell a reload from a first load.
    BlockSlots(DataResidency& residency, int numFaces, int numLevels);
    ~BlockSlots();
    BlockSlots(const BlockSlots&) = delete;
    BlockSlots& operator=(const BlockSlots&) = delete;

    // The block published for `key`, or null. Hold::section: the caller is inside a read
    // section and takes no handle; Hold::handle: a handle is taken (validated against the key).
    Block* find(uint64_t key, Hold hold);
    Block* findTile(Block& directory, int tile, Hold hold);
    // find(Hold::section) of a stored level's face, inline for the resident texel path.
    Block* findFaceInSection(uint32_t level, uint32_t faceid) const
    {
        Block* block = locateFace(level, faceid);
        if (block) block->markUsed();
        return block;
    }

    // Publishes `made` (complete, its key set, never seen by anyone) with the hold, unless a
    // block was published for its key meanwhile: that one is then returned with the hold and
    // `made` discarded. Not to be called with a residency lock held.
    Block* publish(Block* made, Hold hold);
    Block* publishTile(Block& directory, int tile, Block* made, Hold hold);

    // ResidentBlockOwner
    bool evict(Block& block) override;

private:
    // A bucket holds a published block (whose key the probe reads from the block itself), null
    // (empty) or the removed marker.
    using Bucket = std::atomic<Block*>;
    struct BucketArray {
        RetiredNode retired;
        size_t mask = 0;
        Bucket* buckets() { return reinterpret_cast<Bucket*>(this + 1); }
        static BucketArray* create(size_t capacity) noexcept;
        static void destroy(void* array) noexcept;
        static size_t bytesFor(size_t capacity) { return sizeof(BucketArray) + capacity * sizeof(Bucket); }
    };

    // Eight slots for eight consecutive faces of one level.
    struct FacePage {
        RetiredNode retired;
        std::atomic<Block*> slots[8];
        int published = 0;  // guarded by the lock
        static FacePage* create() noexcept;
        static void destroy(void* page) noexcept;
    };
    using PageArray = std::atomic<FacePage*>;

    static Block* lookup(BucketArray& table, uint64_t key);
    Block* locate(uint64_t key) const;
    Block* locateFace(uint32_t level, uint32_t faceid) const
    {
        if (level >= uint32_t(_numLevels) || faceid >= uint32_t(_numFaces)) return nullptr;
        PageArray* pages = _levelPages[level].load(std::memory_order_acquire);
        if (!pages) return nullptr;
        FacePage* page = pages[faceid / 8].load(std::memory_order_acquire);
        return page ? page->slots[faceid % 8].load(std::memory_order_acquire) : nullptr;
    }
    size_t pageCount() const;
    bool insertFaceLocked(Block* block);
    void removeFaceLocked(Block* block);
    Block* lookupLocked(uint64_t key) const;
    bool insertLocked(Block* block);
    void removeLocked(Block* block);
    bool growLocked();
    void noteGrowthLocked();
    void makeRoomForGrowth();
    void acquireLocked(Block* block, Hold hold);

    DataResidency& _residency;
    ReadSections& _sections;
    const int _numFaces;
    mutable std::mutex _mutex;
    const int _numLevels;
    std::unique_ptr<std::atomic<PageArray*>[]> _levelPages;  // per level, made on first use
    std::atomic<BucketArray*> _table{nullptr};
    size_t _live = 0;                                             // published blocks in the table
    size_t _used = 0;                                             // buckets not empty (published or removed)
    size_t _reserved = 0;                                         // what this table holds in reserve at the residency
    std::atomic<size_t> _growthBytes{BucketArray::bytesFor(64)};  // the next table, if one is due
    ReloadMarks _marks;                                           // guarded by the lock
};

PTEX_NAMESPACE_END
