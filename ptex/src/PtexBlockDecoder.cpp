// Stored blocks: constant texels, zipped images and tile directories.
#include "PtexBlockDecoder.h"

#include "PtexUtils.h"
#include "PtexZip.h"

#include <cstring>
#include <new>
#include <vector>

PTEX_NAMESPACE_BEGIN

using namespace PtexIO;

namespace {

std::unique_ptr<uint8_t[]> allocateBytes(size_t size)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size : 1]);
}

bool fail(ReadError& error, ReadErrorCode code)
{
    error = ReadError(code);
    return false;
}

// Inflates a planar image and interleaves its channels into dst.
bool decodeImage(const FileIndex& index, Encoding encoding, const uint8_t* zip, uint32_t zipSize, Res res, uint8_t* dst)
{
    const DataType dt = index.dataType();
    const size_t size = size_t(index.pixelSize) << (res.ulog2 + res.vlog2);
    std::unique_ptr<uint8_t[]> planar = allocateBytes(size);
    if (!planar || !PtexZip::inflateExact(zip, zipSize, planar.get(), size)) return false;
    if (encoding == enc_diffzipped) PtexUtils::decodeDifference(planar.get(), int(size), dt);
    const int rowBytes = DataSize(dt) * res.u();
    PtexUtils::interleave(planar.get(), rowBytes, res.u(), res.v(), dst, index.pixelSize * res.u(), dt,
                          index.header.nchannels);
    return true;
}

void premultiply(const FileIndex& index, uint8_t* data, int count)
{
    PtexUtils::multalpha(data, count, index.dataType(), index.header.nchannels, index.header.alphachan);
}

bool decodeTileDirectory(ByteSource& file, const FileIndex& index, uint32_t blockSize, uint64_t pos, FaceBlock& block,
                         ReadError& error)
{
    const Res res = block.blockRes;
    const int pixelSize = index.pixelSize;
    uint8_t prefix[kTiledBlockPrefixSize];
    if (blockSize < kTiledBlockPrefixSize) return fail(error, ReadErrorCode::readFailed);
    if (!file.readAt(pos, prefix, kTiledBlockPrefixSize, error)) return false;
    Res tileRes{int8_t(prefix[0]), int8_t(prefix[1])};
    const uint32_t tileHeaderSize = getU32(prefix + 2);
    if (tileRes.ulog2 < 0 || tileRes.vlog2 < 0 || tileRes.ulog2 > res.ulog2 || tileRes.vlog2 > res.vlog2 ||
        tileHeaderSize > blockSize - kTiledBlockPrefixSize)
        return fail(error, ReadErrorCode::invalidTiledBlock);
    // Every tile takes at least one byte of the block: bound the directory before allocating it.
    const uint64_t ntiles = uint64_t(1) << ((res.ulog2 - tileRes.ulog2) + (res.vlog2 - tileRes.vlog2));
    if (ntiles > blockSize - kTiledBlockPrefixSize - tileHeaderSize || !plausibleInflate(4 * ntiles, tileHeaderSize))
        return fail(error, ReadErrorCode::invalidTiledBlock);
    std::unique_ptr<TileTable> table(new TileTable);
    table->tileRes = tileRes;
    table->ntilesu = res.ntilesu(tileRes);
    table->ntiles = res.ntiles(tileRes);
    std::vector<uint8_t> headerBytes(size_t(4) * table->ntiles);
    if (!file.readZip(pos + kTiledBlockPrefixSize, tileHeaderSize, headerBytes.data(), headerBytes.size(), error))
        return false;
    table->headers.resize(table->ntiles);
    table->offsets.resize(table->ntiles);
    uint64_t offset = kTiledBlockPrefixSize + uint64_t(tileHeaderSize);
    for (int t = 0; t < table->ntiles; ++t) {
        FaceDataHeader& th = table->headers[t];
        th.data = getU32(&headerBytes[4 * size_t(t)]);
        if (th.encoding() == enc_tiled || (th.encoding() == enc_constant && th.blocksize() != uint32_t(pixelSize)))
            return fail(error, ReadErrorCode::invalidTileHeader);
        table->offsets[t] = pos + offset;
        offset += th.blocksize();
    }
    if (offset != blockSize) return fail(error, ReadErrorCode::tileSizesMismatch);
    table->tiles = std::make_unique<std::atomic<FaceBlock*>[]>(size_t(table->ntiles));
    for (int t = 0; t < table->ntiles; ++t) table->tiles[t].store(nullptr, std::memory_order_relaxed);
    block.setKind(FaceBlock::kTiled);
    block.tileTable = std::move(table);
    block.bytes = sizeof(FaceBlock) + sizeof(TileTable) + size_t(block.tileTable->ntiles) * (4 + 8 + sizeof(void*));
    return true;
}

}  // namespace

bool decodeStoredBlock(ByteSource& file, const FileIndex& index, FaceDataHeader header, uint64_t pos, FaceBlock& block,
                       ReadError& error)
{
    const uint32_t blockSize = header.blocksize();
    const Res res = block.blockRes;
    const int pixelSize = index.pixelSize;
    const bool premultiplied = block.level0 && index.premultiply;
    switch (header.encoding()) {
    case enc_constant: {
        if (blockSize != uint32_t(pixelSize)) return fail(error, ReadErrorCode::invalidConstantBlock);
        std::unique_ptr<uint8_t[]> texel = allocateBytes(size_t(pixelSize));
        if (!texel) return fail(error, ReadErrorCode::outOfMemory);
        if (!file.readAt(pos, texel.get(), size_t(pixelSize), error)) return false;
        if (premultiplied) premultiply(index, texel.get(), 1);
        block.setKind(FaceBlock::kConstant);
        block.pixels = std::move(texel);
        block.bytes = sizeof(FaceBlock) + size_t(pixelSize);
        return true;
    }
    case enc_zipped:
    case enc_diffzipped: {
        const size_t size = size_t(pixelSize) << (res.ulog2 + res.vlog2);
        if (!plausibleInflate(size, blockSize)) return fail(error, ReadErrorCode::unzipFailed);
        std::unique_ptr<uint8_t[]> zip = allocateBytes(blockSize);
        std::unique_ptr<uint8_t[]> texels = allocateBytes(size);
        if (!zip || !texels) return fail(error, ReadErrorCode::outOfMemory);
        if (!file.readAt(pos, zip.get(), blockSize, error)) return false;
        if (!decodeImage(index, header.encoding(), zip.get(), blockSize, res, texels.get()))
            return fail(error, ReadErrorCode::unzipFailed);
        if (premultiplied) premultiply(index, texels.get(), res.size());
        block.setKind(FaceBlock::kPacked);
        block.pixels = std::move(texels);
        block.bytes = sizeof(FaceBlock) + size;
        return true;
    }
    case enc_tiled: return decodeTileDirectory(file, index, blockSize, pos, block, error);
    }
    return false;
}

PTEX_NAMESPACE_END
