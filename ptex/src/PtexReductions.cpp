// Dynamic reductions: resolutions a file does not store, made by halving a stored or already
// reduced image in one direction (triangles: in both), and the tiles of a tiled reduction.
#include "PtexReductions.h"

#include "PtexBytes.h"
#include "PtexUtils.h"

#include <cstring>
#include <new>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace {

// A block being computed: discarded unless taken.
struct PendingBlock {
    DataResidency& residency;
    Block* block;
    PendingBlock(DataResidency& r, Block* b) : residency(r), block(b) {}
    ~PendingBlock()
    {
        if (block) residency.discard(block);
    }
    Block* take()
    {
        Block* taken = block;
        block = nullptr;
        return taken;
    }
};

}  // namespace

Block* computeReduction(const ReductionSource& source, int faceid, Res res)
{
    const FaceInfo& face = source.index.faces[faceid];
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    const bool triangle = source.index.triangles();
    bool reduceInU = false;
    Res srcRes;
    if (triangle) {
        srcRes = Res(int8_t(res.ulog2 + 1), int8_t(res.vlog2 + 1));
    } else {
        reduceInU = redu == redv ? (res.ulog2 & 1) != 0 : redu > redv;
        srcRes = reduceInU ? Res(int8_t(res.ulog2 + 1), res.vlog2) : Res(res.ulog2, int8_t(res.vlog2 + 1));
    }
    PtexFaceData* src = source.texture.getData(faceid, srcRes);
    if (src == source.errorFace) return nullptr;
    PtexPtr<PtexFaceData> releaseSource(src);

    const DataType dt = source.index.dataType();
    const int nchan = source.index.header.nchannels;
    const size_t P = size_t(source.index.pixelSize);
    const int pixelSize = source.index.pixelSize;
    auto makeConstant = [&](const void* value) {
        Block* block = source.residency.makeBlock(Block::kConstant, res, pixelSize, P);
        if (block) memcpy(block->payload(), value, P);
        return block;
    };
    if (src->isConstant()) return makeConstant(src->getData());

    const int dstu = res.u(), dstv = res.v();
    const size_t size = P * size_t(dstu) * size_t(dstv);
    const int dstStride = int(P) * dstu;
    const int srcu = srcRes.u(), srcv = srcRes.v();
    auto reduceRect = [&](const void* s, int sstride, int su, int sv, uint8_t* d) {
        if (triangle)
            PtexUtils::reduceTri(s, sstride, su, sv, d, dstStride, dt, nchan);
        else if (reduceInU)
            PtexUtils::reduceu(s, sstride, su, sv, d, dstStride, dt, nchan);
        else
            PtexUtils::reducev(s, sstride, su, sv, d, dstStride, dt, nchan);
    };

    if (src->isTiled() && !triangle) {
        // Keep the result tiled where the source tiles allow it, so that a reduction of a large
        // face stays as lazy (and as finely evictable) as the face itself.
        const Res srcTile = src->tileRes();
        Res newTile = srcTile;
        newTile.clamp(res);
        const bool splittable = reduceInU ? srcTile.ulog2 >= 1 : srcTile.vlog2 >= 1;
        if (splittable && res.ntiles(newTile) > 1) {
            std::unique_ptr<TileDirectory> dir =
                TileDirectory::create(newTile, res.ntilesu(newTile), res.ntiles(newTile), false);
            if (!dir) return nullptr;
            dir->computed = true;
            dir->faceid = faceid;
            dir->sourceRes = srcRes;
            dir->reduceInU = reduceInU;
            Block* block = source.residency.makeBlock(Block::kTiled, res, pixelSize, 0);
            if (!block) return nullptr;
            block->texels = nullptr;
            block->loader = source.loader;
            const size_t dirBytes = dir->bytes();
            block->tiles = std::move(dir);
            block->bytes += dirBytes;
            source.residency.addMemory(int64_t(dirBytes));
            return block;
        }
    }
    PendingBlock result(source.residency, source.residency.makeBlock(Block::kPacked, res, pixelSize, size));
    if (!result.block) return nullptr;
    uint8_t* texels = result.block->payload();
    if (!src->isTiled()) {
        reduceRect(src->getData(), int(P) * srcu, srcu, srcv, texels);
    } else {
        const Res tileRes = src->tileRes();
        const int tileu = tileRes.u(), tilev = tileRes.v();
        const int ntilesu = srcRes.ntilesu(tileRes), ntiles = srcRes.ntiles(tileRes);
        const bool perTile = !triangle && (reduceInU ? tileu >= 2 : tilev >= 2);
        std::unique_ptr<uint8_t[]> assembled;
        if (!perTile) {
            assembled = allocateBytes(P * size_t(srcu) * size_t(srcv));
            if (!assembled) return nullptr;
        }
        bool allConstant = true;
        std::vector<uint8_t> firstValue;
        bool sameValue = true;
        for (int t = 0; t < ntiles; ++t) {
            PtexFaceData* tile = src->getTile(t);
            if (!tile || tile == source.errorFace) return nullptr;
            const int tu = t % ntilesu, tv = t / ntilesu;
            const void* tileData = tile->getData();
            if (tile->isConstant()) {
                if (firstValue.empty())
                    firstValue.assign(static_cast<const uint8_t*>(tileData), static_cast<const uint8_t*>(tileData) + P);
                else if (memcmp(firstValue.data(), tileData, P) != 0)
                    sameValue = false;
            } else {
                allConstant = false;
            }
            if (perTile) {
                const int outu = reduceInU ? tileu / 2 : tileu, outv = reduceInU ? tilev : tilev / 2;
                uint8_t* d = texels + (size_t(tv) * outv * dstu + size_t(tu) * outu) * P;
                if (tile->isConstant())
                    PtexUtils::fill(tileData, d, dstStride, outu, outv, int(P));
                else
                    reduceRect(tileData, int(P) * tileu, tileu, tilev, d);
            } else {
                uint8_t* d = assembled.get() + (size_t(tv) * tilev * srcu + size_t(tu) * tileu) * P;
                if (tile->isConstant())
                    PtexUtils::fill(tileData, d, int(P) * srcu, tileu, tilev, int(P));
                else
                    PtexUtils::copy(tileData, int(P) * tileu, d, int(P) * srcu, tilev, int(P) * tileu);
            }
            tile->release();
        }
        if (allConstant && sameValue && !firstValue.empty()) return makeConstant(firstValue.data());
        if (!perTile) reduceRect(assembled.get(), int(P) * srcu, srcu, srcv, texels);
    }
    return result.take();
}

Block* computeReducedTile(const ReductionSource& source, const TileDirectory& table, int tile)
{
    PtexFaceData* src = source.texture.getData(table.faceid, table.sourceRes);
    if (src == source.errorFace || !src->isTiled()) {
        if (src != source.errorFace) src->release();
        return nullptr;
    }
    PtexPtr<PtexFaceData> releaseSource(src);

    const DataType dt = source.index.dataType();
    const int nchan = source.index.header.nchannels;
    const size_t P = size_t(source.index.pixelSize);
    const Res srcTile = src->tileRes();
    const int srcNtilesu = table.sourceRes.ntilesu(srcTile);
    const int ratioU = srcNtilesu / table.ntilesu;
    const int ratioV = table.sourceRes.ntilesv(srcTile) / (table.ntiles / table.ntilesu);
    const int tileu = table.tileRes.u(), tilev = table.tileRes.v();
    const int partu = tileu / ratioU, partv = tilev / ratioV;  // the part each source tile fills
    const int tu = tile % table.ntilesu, tv = tile / table.ntilesu;
    const int dstStride = int(P) * tileu;

    PendingBlock result(source.residency,
                        source.residency.makeBlock(Block::kPacked, table.tileRes, source.index.pixelSize,
                                                   P * size_t(tileu) * size_t(tilev)));
    if (!result.block) return nullptr;
    uint8_t* texels = result.block->payload();
    bool allConstant = true, sameValue = true;
    std::vector<uint8_t> firstValue;
    for (int j = 0; j < ratioV; ++j) {
        for (int i = 0; i < ratioU; ++i) {
            PtexFaceData* part = src->getTile((tv * ratioV + j) * srcNtilesu + tu * ratioU + i);
            if (!part || part == source.errorFace) return nullptr;
            const void* partData = part->getData();
            uint8_t* d = texels + (size_t(j) * partv * tileu + size_t(i) * partu) * P;
            if (part->isConstant()) {
                if (firstValue.empty())
                    firstValue.assign(static_cast<const uint8_t*>(partData), static_cast<const uint8_t*>(partData) + P);
                else if (memcmp(firstValue.data(), partData, P) != 0)
                    sameValue = false;
                PtexUtils::fill(partData, d, dstStride, partu, partv, int(P));
            } else {
                allConstant = false;
                if (table.reduceInU)
                    PtexUtils::reduceu(partData, int(P) * srcTile.u(), srcTile.u(), srcTile.v(), d, dstStride, dt,
                                       nchan);
                else
                    PtexUtils::reducev(partData, int(P) * srcTile.u(), srcTile.u(), srcTile.v(), d, dstStride, dt,
                                       nchan);
            }
            part->release();
        }
    }
    if (!allConstant || !sameValue) return result.take();
    Block* constant = source.residency.makeBlock(Block::kConstant, table.tileRes, source.index.pixelSize, P);
    if (constant) memcpy(constant->payload(), firstValue.data(), P);
    return constant;
}

PTEX_NAMESPACE_END
