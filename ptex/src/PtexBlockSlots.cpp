// The block table: lock-free probing, publication, eviction and growth.
#include "PtexBlockSlots.h"

#include "PtexReadSections.h"

#include <new>

PTEX_NAMESPACE_BEGIN

namespace {

// The removed marker: the address of a byte of our own, so never a block's; never dereferenced.
alignas(Block) unsigned char removedMarker;
Block* const kRemoved = reinterpret_cast<Block*>(&removedMarker);
constexpr size_t kMinCapacity = 64;

// Eight consecutive faces of one kind share a run of eight buckets (two cache lines), so that
// a pass over faces in their order reads the table as it reads the faces; runs are scattered
// by a multiplicative hash of the rest of the key.
size_t homeBucket(uint64_t key, size_t mask)
{
    uint64_t h = (key >> 3) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
    return size_t((h << 3) | (key & 7)) & mask;
}

// Room for three times the published blocks: at most a third full after a rebuild, and rebuilt
// (larger, or smaller after evictions) once half full with published and removed entries.
size_t capacityFor(size_t live)
{
    size_t capacity = kMinCapacity;
    while (capacity < 3 * live) capacity *= 2;
    return capacity;
}

}  // namespace

BlockSlots::BucketArray* BlockSlots::BucketArray::create(size_t capacity) noexcept
{
    void* memory = ::operator new(bytesFor(capacity), std::nothrow);
    if (!memory) return nullptr;
    BucketArray* array = new (memory) BucketArray;
    array->mask = capacity - 1;
    array->retired.destroy = &BucketArray::destroy;
    array->retired.object = array;
    array->retired.bytes = bytesFor(capacity);
    Bucket* buckets = array->buckets();
    for (size_t i = 0; i < capacity; ++i) new (&buckets[i]) Bucket(nullptr);
    return array;
}

void BlockSlots::BucketArray::destroy(void* object) noexcept
{
    BucketArray* array = static_cast<BucketArray*>(object);
    array->~BucketArray();
    ::operator delete(array);
}

BlockSlots::FacePage* BlockSlots::FacePage::create() noexcept
{
    FacePage* page = new (std::nothrow) FacePage;
    if (!page) return nullptr;
    for (auto& slot : page->slots) slot.store(nullptr, std::memory_order_relaxed);
    page->retired.destroy = &FacePage::destroy;
    page->retired.object = page;
    page->retired.bytes = sizeof(FacePage);
    return page;
}

void BlockSlots::FacePage::destroy(void* page) noexcept { delete static_cast<FacePage*>(page); }

BlockSlots::BlockSlots(DataResidency& residency, int numFaces, int numLevels)
    : _residency(residency),
      _sections(*residency.sections()),
      _numFaces(numFaces),
      _numLevels(numLevels > 0 ? numLevels : 0),
      _levelPages(new std::atomic<PageArray*>[size_t(_numLevels)]),
      _marks(residency, numFaces, numLevels)
{
    for (int level = 0; level < _numLevels; ++level) _levelPages[level].store(nullptr, std::memory_order_relaxed);
}

size_t BlockSlots::pageCount() const { return (size_t(_numFaces) + 7) / 8; }

BlockSlots::~BlockSlots()
{
    // The texture is going away and nobody reads it any more: its blocks go at once.
    std::vector<Block*> blocks;
    BucketArray* table = _table.load(std::memory_order_relaxed);
    auto addWithTiles = [&blocks](Block* block) {
        if (block->kind == Block::kTiled) {
            for (int t = 0; t < block->tiles->ntiles; ++t)
                if (Block* tile = block->tiles->published[t].load(std::memory_order_relaxed)) blocks.push_back(tile);
        }
        blocks.push_back(block);
    };
    size_t pageBytes = 0;
    try {
        blocks.reserve(_live);
        for (int level = 0; level < _numLevels; ++level) {
            PageArray* pages = _levelPages[level].load(std::memory_order_relaxed);
            if (!pages) continue;
            for (size_t g = 0; g < pageCount(); ++g)
                if (FacePage* page = pages[g].load(std::memory_order_relaxed))
                    for (auto& slot : page->slots)
                        if (Block* block = slot.load(std::memory_order_relaxed)) addWithTiles(block);
        }
        if (table) {
            Bucket* buckets = table->buckets();
            for (size_t i = 0; i <= table->mask; ++i) {
                Block* block = buckets[i].load(std::memory_order_relaxed);
                if (block && block != kRemoved) addWithTiles(block);
            }
        }
        _residency.discardAll(blocks.data(), blocks.size());
    } catch (...) {
        // Without room for the list the blocks stay allocated: better a leak than a crash.
    }
    for (int level = 0; level < _numLevels; ++level) {
        PageArray* pages = _levelPages[level].load(std::memory_order_relaxed);
        if (!pages) continue;
        for (size_t g = 0; g < pageCount(); ++g) {
            if (FacePage* page = pages[g].load(std::memory_order_relaxed)) {
                pageBytes += sizeof(FacePage);
                FacePage::destroy(page);
            }
        }
        pageBytes += pageCount() * sizeof(PageArray);
        delete[] pages;
    }
    _residency.addMemory(-int64_t(pageBytes));
    if (table) {
        _residency.addMemory(-int64_t(table->retired.bytes));
        BucketArray::destroy(table);
    }
    _residency.reserve(-int64_t(_reserved));
    _residency.addMemory(-int64_t(_marks.bytes()));
}

Block* BlockSlots::lookup(BucketArray& table, uint64_t key)
{
    // Whatever a reader finds stays whole for it (its section, or the lock, keeps retired blocks
    // alive), so reading the key from the block is safe even if the bucket changes meanwhile.
    Bucket* buckets = table.buckets();
    for (size_t i = homeBucket(key, table.mask);; i = (i + 1) & table.mask) {
        Block* block = buckets[i].load(std::memory_order_acquire);
        if (!block) return nullptr;
        if (block != kRemoved && block->key == key) return block;
    }
}

Block* BlockSlots::locate(uint64_t key) const
{
    if (BlockRole(key >> 56) == BlockRole::levelFace) return locateFace(uint32_t(key >> 32) & 0xffff, uint32_t(key));
    BucketArray* table = _table.load(std::memory_order_acquire);
    return table ? lookup(*table, key) : nullptr;
}

Block* BlockSlots::lookupLocked(uint64_t key) const { return locate(key); }

void BlockSlots::acquireLocked(Block* block, Hold hold)
{
    // Under the lock a published block cannot be evicted, so a plain increment will do.
    if (hold == Hold::handle) block->refs.fetch_add(1, std::memory_order_acquire);
    block->markUsed();
}

Block* BlockSlots::find(uint64_t key, Hold hold)
{
    if (hold == Hold::section) {
        Block* block = locate(key);
        // An evicted block is still whole for the section; it is simply not handed out anew.
        if (block) block->markUsed();
        return block;
    }
    ReadSections::Slot* slot = _sections.threadSlot();
    if (!slot) {
        std::lock_guard<std::mutex> lock(_mutex);
        Block* block = lookupLocked(key);
        if (block) acquireLocked(block, hold);
        return block;
    }
    SectionScope section(_sections, slot);
    Block* block = locate(key);
    if (!block || !block->tryAcquire()) return nullptr;
    block->markUsed();
    return block;
}

Block* BlockSlots::findTile(Block& directory, int tile, Hold hold)
{
    std::atomic<Block*>& published = directory.tiles->published[tile];
    if (hold == Hold::section) {
        Block* block = published.load(std::memory_order_acquire);
        if (block) block->markUsed();
        return block;
    }
    ReadSections::Slot* slot = _sections.threadSlot();
    if (!slot) {
        std::lock_guard<std::mutex> lock(_mutex);
        Block* block = published.load(std::memory_order_relaxed);
        if (block) acquireLocked(block, hold);
        return block;
    }
    SectionScope section(_sections, slot);
    Block* block = published.load(std::memory_order_acquire);
    if (!block || !block->tryAcquire()) return nullptr;
    block->markUsed();
    return block;
}

bool BlockSlots::growLocked()
{
    BucketArray* old = _table.load(std::memory_order_relaxed);
    BucketArray* grown = BucketArray::create(capacityFor(_live + 1));
    if (!grown) return false;
    _residency.addMemory(int64_t(grown->retired.bytes));
    size_t live = 0;
    if (old) {
        Bucket* buckets = old->buckets();
        Bucket* target = grown->buckets();
        for (size_t i = 0; i <= old->mask; ++i) {
            Block* block = buckets[i].load(std::memory_order_relaxed);
            if (!block || block == kRemoved) continue;
            size_t j = homeBucket(block->key, grown->mask);
            while (target[j].load(std::memory_order_relaxed)) j = (j + 1) & grown->mask;
            target[j].store(block, std::memory_order_relaxed);
            ++live;
        }
    }
    _table.store(grown, std::memory_order_release);
    // The next rebuild allocates about as much while this table waits for its readers: the
    // residency keeps that much in reserve below its limit.
    _residency.reserve(int64_t(grown->retired.bytes) - int64_t(_reserved));
    _reserved = grown->retired.bytes;
    _live = live;
    _used = live;
    noteGrowthLocked();
    // Readers may still be probing the old table: it goes the way of evicted blocks.
    if (old) _sections.retire(old->retired);
    return true;
}

bool BlockSlots::insertLocked(Block* block)
{
    BucketArray* table = _table.load(std::memory_order_relaxed);
    if (!table || 2 * (_used + 1) > table->mask + 1) {
        if (!growLocked()) return false;
        table = _table.load(std::memory_order_relaxed);
    }
    Bucket* buckets = table->buckets();
    size_t i = homeBucket(block->key, table->mask);
    for (;; i = (i + 1) & table->mask) {
        Block* held = buckets[i].load(std::memory_order_relaxed);
        if (!held || held == kRemoved) break;
    }
    if (!buckets[i].load(std::memory_order_relaxed)) ++_used;
    buckets[i].store(block, std::memory_order_release);
    ++_live;
    noteGrowthLocked();
    return true;
}

bool BlockSlots::insertFaceLocked(Block* block)
{
    const uint32_t level = uint32_t(block->key >> 32) & 0xffff, faceid = uint32_t(block->key);
    if (level >= uint32_t(_numLevels) || faceid >= uint32_t(_numFaces)) return false;
    PageArray* pages = _levelPages[level].load(std::memory_order_relaxed);
    if (!pages) {
        pages = new (std::nothrow) PageArray[pageCount()];
        if (!pages) return false;
        for (size_t g = 0; g < pageCount(); ++g) pages[g].store(nullptr, std::memory_order_relaxed);
        _residency.addMemory(int64_t(pageCount() * sizeof(PageArray)));
        _levelPages[level].store(pages, std::memory_order_release);
    }
    FacePage* page = pages[faceid / 8].load(std::memory_order_relaxed);
    if (!page) {
        page = FacePage::create();
        if (!page) return false;
        _residency.addMemory(int64_t(sizeof(FacePage)));
        pages[faceid / 8].store(page, std::memory_order_release);
    }
    page->slots[faceid % 8].store(block, std::memory_order_release);
    ++page->published;
    return true;
}

void BlockSlots::removeFaceLocked(Block* block)
{
    const uint32_t level = uint32_t(block->key >> 32) & 0xffff, faceid = uint32_t(block->key);
    PageArray* pages = _levelPages[level].load(std::memory_order_relaxed);
    FacePage* page = pages[faceid / 8].load(std::memory_order_relaxed);
    page->slots[faceid % 8].store(nullptr, std::memory_order_release);
    // An empty page goes the way of evicted blocks: readers may still be looking into it.
    if (--page->published == 0) {
        pages[faceid / 8].store(nullptr, std::memory_order_release);
        _sections.retire(page->retired);
    }
}

void BlockSlots::noteGrowthLocked()
{
    const BucketArray* table = _table.load(std::memory_order_relaxed);
    const bool soon = !table || 2 * (_used + 2) > table->mask + 1;
    _growthBytes.store(soon ? BucketArray::bytesFor(capacityFor(_live + 1)) : 0, std::memory_order_relaxed);
}

void BlockSlots::makeRoomForGrowth()
{
    // A new table is allocated while the old one waits for its readers: room is made for it
    // before the lock is taken, as eviction takes this lock too.
    if (const size_t bytes = _growthBytes.load(std::memory_order_relaxed)) _residency.makeRoom(bytes);
}

void BlockSlots::removeLocked(Block* block)
{
    BucketArray* table = _table.load(std::memory_order_relaxed);
    if (!table) return;
    Bucket* buckets = table->buckets();
    for (size_t i = homeBucket(block->key, table->mask);; i = (i + 1) & table->mask) {
        Block* held = buckets[i].load(std::memory_order_relaxed);
        if (!held) return;
        if (held == block) {
            buckets[i].store(kRemoved, std::memory_order_release);
            --_live;
            return;
        }
    }
}

Block* BlockSlots::publish(Block* made, Hold hold)
{
    bool reload = false;
    bool grown = false;
    makeRoomForGrowth();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (Block* existing = lookupLocked(made->key)) {
            acquireLocked(existing, hold);
            _residency.discard(made);
            return existing;
        }
        made->owner = this;
        made->refs.store(hold == Hold::handle ? 1 : 0, std::memory_order_release);
        const BucketArray* before = _table.load(std::memory_order_relaxed);
        const bool face = BlockRole(made->key >> 56) == BlockRole::levelFace;
        if (!(face ? insertFaceLocked(made) : insertLocked(made))) {
            // No room for a bigger table: the block is handed out but never published, and
            // goes away with its last use. Only a handle holder can have such a block.
            made->refs.store(-1, std::memory_order_relaxed);
            _residency.discard(made);
            return nullptr;
        }
        reload = _marks.takeMark(*made);
        grown = before && before != _table.load(std::memory_order_relaxed);
    }
    _residency.noteLoad(made->bytes, reload);
    _residency.admit(made);
    // A cache with a limit reclaims as it evicts; this frees grown-out tables without one.
    if (grown) _residency.reclaim();
    _residency.trim();
    return made;
}

Block* BlockSlots::publishTile(Block& directory, int tile, Block* made, Hold hold)
{
    bool reload = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        std::atomic<Block*>& published = directory.tiles->published[tile];
        if (Block* existing = published.load(std::memory_order_relaxed)) {
            acquireLocked(existing, hold);
            _residency.discard(made);
            return existing;
        }
        if (directory.refs.load(std::memory_order_relaxed) < 0) {
            // A section reader loaded a tile of a directory evicted meanwhile (a handle would
            // have kept it): the tile serves this reader's section and is retired at once.
            made->retired.bytes = made->bytes;
            _sections.retire(made->retired);
            return made;
        }
        made->owner = this;
        made->directory = &directory;
        made->tileIndex = tile;
        made->refs.store(hold == Hold::handle ? 1 : 0, std::memory_order_release);
        published.store(made, std::memory_order_release);
        directory.publishedTiles.fetch_add(1, std::memory_order_relaxed);
        reload = _marks.takeMark(*made);
    }
    _residency.noteLoad(made->bytes, reload);
    _residency.admit(made);
    _residency.trim();
    return made;
}

bool BlockSlots::evict(Block& block)
{
    std::lock_guard<std::mutex> lock(_mutex);
    if (block.kind == Block::kTiled && block.publishedTiles.load(std::memory_order_relaxed) > 0) return false;
    int expected = 0;
    if (!block.refs.compare_exchange_strong(expected, -1, std::memory_order_seq_cst)) return false;
    if (block.directory) {
        block.directory->tiles->published[block.tileIndex].store(nullptr, std::memory_order_release);
        block.directory->publishedTiles.fetch_sub(1, std::memory_order_relaxed);
    } else if (BlockRole(block.key >> 56) == BlockRole::levelFace) {
        removeFaceLocked(&block);
    } else {
        removeLocked(&block);
    }
    _marks.markEvicted(block);
    return true;
}

PTEX_NAMESPACE_END
