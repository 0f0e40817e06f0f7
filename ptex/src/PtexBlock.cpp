// Blocks: allocation with their payload, texel access, tiles through the texture's loader.
#include "PtexBlock.h"

#include <new>

PTEX_NAMESPACE_BEGIN

std::unique_ptr<TileDirectory> TileDirectory::create(Res tileRes, int ntilesu, int ntiles, bool stored) noexcept
{
    std::unique_ptr<TileDirectory> dir(new (std::nothrow) TileDirectory);
    if (!dir) return nullptr;
    dir->tileRes = tileRes;
    dir->ntilesu = ntilesu;
    dir->ntiles = ntiles;
    dir->published.reset(new (std::nothrow) std::atomic<Block*>[size_t(ntiles)]);
    if (!dir->published) return nullptr;
    for (int t = 0; t < ntiles; ++t) dir->published[t].store(nullptr, std::memory_order_relaxed);
    if (stored) {
        dir->headers.reset(new (std::nothrow) PtexIO::FaceDataHeader[size_t(ntiles)]);
        dir->offsets.reset(new (std::nothrow) uint64_t[size_t(ntiles)]);
        if (!dir->headers || !dir->offsets) return nullptr;
    }
    return dir;
}

size_t TileDirectory::bytes() const
{
    const size_t perTile = sizeof(std::atomic<Block*>) + (headers ? sizeof(PtexIO::FaceDataHeader) + 8 : 0);
    return sizeof(*this) + size_t(ntiles) * perTile;
}

Block* Block::create(Kind kind, Res res, int pixelSize, size_t payloadBytes) noexcept
{
    void* memory = ::operator new(sizeof(Block) + payloadBytes, std::nothrow);
    if (!memory) return nullptr;
    Block* block = new (memory) Block(kind, res, pixelSize);
    block->texels = block->payload();
    block->bytes = sizeof(Block) + payloadBytes;
    return block;
}

void Block::destroy(Block* block) noexcept
{
    if (!block) return;
    block->~Block();
    ::operator delete(block);
}

void Block::getPixel(int u, int v, void* result)
{
    if (!result) return;
    if (kind == kConstant) {
        memcpy(result, texels, size_t(pixelSize));
        return;
    }
    if (kind == kIndex || u < 0 || v < 0 || u >= blockRes.u() || v >= blockRes.v()) {
        memset(result, 0, size_t(pixelSize));
        return;
    }
    if (kind == kPacked) {
        memcpy(result, texels + (size_t(v) * size_t(blockRes.u()) + size_t(u)) * size_t(pixelSize), size_t(pixelSize));
        return;
    }
    const Res tr = tiles->tileRes;
    PtexFaceData* tile = getTile((v >> tr.vlog2) * tiles->ntilesu + (u >> tr.ulog2));
    if (!tile) {
        memset(result, 0, size_t(pixelSize));
        return;
    }
    tile->getPixel(u & (tr.u() - 1), v & (tr.v() - 1), result);
    tile->release();
}

PtexFaceData* Block::getTile(int tile) { return getTile(tile, Hold::handle); }

PtexFaceData* Block::getTile(int tile, Hold hold)
{
    if (kind != kTiled || !loader || tile < 0 || tile >= tiles->ntiles) return nullptr;
    return loader->acquireTile(*this, tile, hold);
}

PTEX_NAMESPACE_END
