// Block: one unit of decoded data that a cache holds and may evict again: a face image at one
// resolution (stored level or dynamic reduction), a tile, a tiled face's directory of tiles, a
// constant value viewed as face data, or an index (a level's block table). A block is made
// whole, published once into its texture's BlockSlots, and never changes until it is evicted;
// it is then unpublished and retired through the read sections, which free it once no reader
// can still see it. ConstantFaceData is the texture's zero-valued error face.
#pragma once

#include "PtexIO.h"
#include "PtexReadSections.h"
#include "Ptexture.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

PTEX_NAMESPACE_BEGIN

class Block;
class ResidentBlockOwner;

// What a block is for; part of its key.
enum class BlockRole : uint8_t { levelFace = 1, reduction = 2, levelIndex = 3, reductionOrder = 4, constantView = 5 };

// Keys are never 0: the role, never 0, sits in the top byte.
inline uint64_t blockKey(BlockRole role, uint16_t param, uint32_t faceid)
{
    return (uint64_t(role) << 56) | (uint64_t(param) << 32) | uint64_t(faceid);
}

// How a block is handed out: with a handle the caller releases, or, inside a read section,
// without one (the section keeps retired blocks alive until it closes).
enum class Hold : uint8_t { handle, section };

// Loads the tiles of a tiled block (the texture's reader).
class TileLoader {
public:
    virtual PtexFaceData* acquireTile(Block& directory, int tile, Hold hold) = 0;

protected:
    ~TileLoader() {}
};

// The tiles of a tiled face (stored) or of a tiled reduction (computed from the source tiles).
struct TileDirectory {
    Res tileRes;
    int ntilesu = 0;
    int ntiles = 0;
    std::unique_ptr<PtexIO::FaceDataHeader[]> headers;  // stored tiles: where each lies in the file
    std::unique_ptr<uint64_t[]> offsets;
    // The published tiles; written only under the texture's slot lock.
    std::unique_ptr<std::atomic<Block*>[]> published;
    bool computed = false;
    int faceid = -1;
    Res sourceRes;
    bool reduceInU = false;

    // A directory for `ntiles` tiles; stored or computed. Null when out of memory.
    static std::unique_ptr<TileDirectory> create(Res tileRes, int ntilesu, int ntiles, bool stored) noexcept;
    size_t bytes() const;
};

class Block final : public PtexFaceData {
public:
    enum Kind : uint8_t { kConstant, kPacked, kTiled, kIndex };

    // A block with `payloadBytes` of storage right after it (texels or index data), not yet
    // published (refs -1). Null when out of memory.
    static Block* create(Kind kind, Res res, int pixelSize, size_t payloadBytes) noexcept;
    static void destroy(Block* block) noexcept;
    // For the read sections' retired list.
    static void destroyRetired(void* block) noexcept { destroy(static_cast<Block*>(block)); }

    uint8_t* payload() { return reinterpret_cast<uint8_t*>(this + 1); }

    // Set before the block is published, unchanged afterwards.
    uint64_t key = 0;
    const uint8_t* texels = nullptr;  // the payload, or a value the texture owns (constant views)
    Res blockRes;
    Kind kind;
    bool level0 = false;  // full-resolution data (premultiplied at decode if asked)
    int pixelSize;
    // What every lookup reads sits in the first 40 bytes with the texel pointer, so that a
    // resident lookup touches one line of the block besides its texels.
    // refs < 0: not published (being made, or evicted); refs >= 0: published, with that many
    // handles held by callers. A handle is taken with a compare-and-swap from a value >= 0, so
    // an evicted block (0 -> -1) can never be handed out again. Section readers take none.
    std::atomic<int> refs{-1};
    // Set when the block is used; the residency's clock clears it and evicts blocks found clear.
    std::atomic<uint8_t> recent{0};
    size_t bytes = 0;  // accounted to the cache's memory: object, payload, tile directory
    ResidentBlockOwner* owner = nullptr;
    TileLoader* loader = nullptr;          // directories: who loads their tiles
    std::unique_ptr<TileDirectory> tiles;  // directories
    Block* directory = nullptr;            // tiles: the directory they are published in
    int tileIndex = -1;

    // Directories: how many of their tiles are published (a directory goes only after them).
    std::atomic<int> publishedTiles{0};
    // Links of the residency's ring of evictable blocks (guarded by its lock).
    Block* ringPrev = nullptr;
    Block* ringNext = nullptr;
    RetiredNode retired;  // its place in the read sections' list once evicted

    bool tryAcquire()
    {
        int r = refs.load(std::memory_order_acquire);
        while (r >= 0) {
            if (refs.compare_exchange_weak(r, r + 1, std::memory_order_acquire)) return true;
        }
        return false;
    }
    // Written only when clear, so that threads sharing a block do not fight over its line.
    void markUsed()
    {
        if (!recent.load(std::memory_order_relaxed)) recent.store(1, std::memory_order_relaxed);
    }
    const uint8_t* data() const { return texels; }

    void release() override { refs.fetch_sub(1, std::memory_order_release); }
    bool isConstant() override { return kind == kConstant; }
    Ptex::Res res() override { return kind == kConstant ? Res(0, 0) : blockRes; }
    void getPixel(int u, int v, void* result) override;
    void* getData() override { return kind == kTiled ? nullptr : const_cast<uint8_t*>(texels); }
    bool isTiled() override { return kind == kTiled; }
    Ptex::Res tileRes() override
    {
        return kind == kTiled ? tiles->tileRes : (kind == kConstant ? Res(0, 0) : blockRes);
    }
    PtexFaceData* getTile(int tile) override;
    // A tile with a handle, or without one for a section reader; null when out of memory.
    PtexFaceData* getTile(int tile, Hold hold);

private:
    Block(Kind kind_, Res res_, int pixelSize_) : blockRes(res_), kind(kind_), pixelSize(pixelSize_)
    {
        retired.destroy = &destroyRetired;
        retired.object = this;
    }
    ~Block() override {}
};

// A view of one texel owned by the texture; release() has nothing to free.
class ConstantFaceData final : public PtexFaceData {
public:
    const uint8_t* value = nullptr;
    int pixelSize = 0;

    void release() override {}
    bool isConstant() override { return true; }
    Ptex::Res res() override { return Res(0, 0); }
    void getPixel(int, int, void* result) override
    {
        if (result && value) memcpy(result, value, size_t(pixelSize));
    }
    void* getData() override { return const_cast<uint8_t*>(value); }
    bool isTiled() override { return false; }
    Ptex::Res tileRes() override { return Res(0, 0); }
    PtexFaceData* getTile(int) override { return nullptr; }
};

PTEX_NAMESPACE_END
