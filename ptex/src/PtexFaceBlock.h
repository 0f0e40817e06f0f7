// Decoded texel data handed out as PtexFaceData: FaceBlock (a face image, tile, tiled face or
// reduction owned by a reader, with a handle count so that eviction never frees data a caller
// still holds) and ConstantFaceData (a texture-owned view of one texel: constant faces, the 1x1
// averages and the zero-valued error face).
#pragma once

#include "PtexIO.h"
#include "Ptexture.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

PTEX_NAMESPACE_BEGIN

class PtexReader;
class FaceBlock;
class ResidentBlockOwner;

// The tile directory of a tiled face: one block per tile, created on first use and kept until
// the texture goes away (only the tiles' texels are evicted).
struct TileTable {
    Res tileRes;
    int ntilesu = 0;
    int ntiles = 0;
    std::vector<PtexIO::FaceDataHeader> headers;
    std::vector<uint64_t> offsets;
    std::unique_ptr<std::atomic<FaceBlock*>[]> tiles;
    std::vector<std::unique_ptr<FaceBlock>> owned;  // guarded by the reader's lock

    // Tiles of a dynamic reduction are not read but computed, each from the source tiles that
    // cover it, on first use (and again after eviction).
    bool computed = false;
    int faceid = -1;
    Res sourceRes;
    bool reduceInU = false;
};

// How a block is handed out: with a handle the caller releases, or, inside a read section,
// without one (the section keeps evicted texels alive until it closes).
enum class Hold : uint8_t { handle, section };

class FaceBlock final : public PtexFaceData {
public:
    enum Kind : uint8_t { kConstant, kPacked, kTiled };

    // refs < 0: texels not resident (never loaded, or evicted); refs >= 0: resident, with that
    // many handles held by callers. Readers take a handle with a compare-and-swap from a value
    // >= 0, so a block evicted (0 -> -1 under the reader's lock) can never be handed out.
    // Section readers take no handle: they only check refs >= 0 (see ReadSections).
    std::atomic<int> refs{-1};
    std::atomic<uint64_t> lastUse{0};

    PtexReader* reader = nullptr;
    ResidentBlockOwner* residencyOwner = nullptr;  // who evicts it (set when published)
    bool level0 = false;                           // level-0 data (full resolution), premultiplied at decode if asked
    Kind kind = kConstant;
    Res blockRes;
    int pixelSize = 0;
    size_t bytes = 0;  // bytes of decoded data accounted to the memory total
    // The decoded texels: owned through pixels (changed only under the reader's lock, or before
    // the block is published) and published through texels for readers without the lock. An
    // evicted block's texels may still point at retired data that open read sections use; a
    // reload publishes new ones before the block is resident again.
    std::unique_ptr<uint8_t[]> pixels;
    std::atomic<const uint8_t*> texels{nullptr};
    std::unique_ptr<TileTable> tileTable;

    // Links of the least-recently-used list of evictable blocks (guarded by its mutex).
    FaceBlock* lruPrev = nullptr;
    FaceBlock* lruNext = nullptr;
    bool inLru = false;

    FaceBlock(PtexReader* owner, Res res_, int pixelSize_, bool isLevel0)
        : reader(owner), level0(isLevel0), blockRes(res_), pixelSize(pixelSize_)
    {}

    // Takes a handle if the block is resident; lock-free.
    bool tryAcquire()
    {
        int r = refs.load(std::memory_order_acquire);
        while (r >= 0) {
            if (refs.compare_exchange_weak(r, r + 1, std::memory_order_acquire)) return true;
        }
        return false;
    }

    // Resident: texels published and not evicted (which a section reader checks instead of
    // taking a handle).
    bool resident() const { return refs.load(std::memory_order_acquire) >= 0; }
    const uint8_t* data() const { return texels.load(std::memory_order_acquire); }

    // Brings the use stamp up to date for the eviction order. The epoch moves only when data
    // are loaded, so the stamp is usually current already; writing it anyway would make threads
    // sharing a block fight over its cache line.
    void stamp(uint64_t epoch)
    {
        if (lastUse.load(std::memory_order_relaxed) != epoch) lastUse.store(epoch, std::memory_order_relaxed);
    }

    // The kind follows from the file (or the reduced data), so a reload finds it unchanged;
    // it is written only when it differs, as section readers may read it during a reload.
    void setKind(Kind k)
    {
        if (kind != k) kind = k;
    }

    void release() override;
    bool isConstant() override { return kind == kConstant; }
    Ptex::Res res() override { return kind == kConstant ? Res(0, 0) : blockRes; }
    void getPixel(int u, int v, void* result) override;
    void* getData() override { return kind == kTiled ? nullptr : const_cast<uint8_t*>(data()); }
    bool isTiled() override { return kind == kTiled; }
    Ptex::Res tileRes() override
    {
        return kind == kTiled ? tileTable->tileRes : (kind == kConstant ? Res(0, 0) : blockRes);
    }
    PtexFaceData* getTile(int tile) override;
    // A tile with a handle, or without one for a section reader; null when out of memory.
    PtexFaceData* getTile(int tile, Hold hold);
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
