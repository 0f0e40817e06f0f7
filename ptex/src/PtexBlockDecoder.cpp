// Stored blocks: level tables, constant texels, zipped images and tile directories.
#include "PtexBlockDecoder.h"

#include "PtexUtils.h"
#include "PtexZip.h"

#include <cstring>
#include <new>
#include <vector>

PTEX_NAMESPACE_BEGIN

using namespace PtexIO;

namespace {

// Layout of a level index's payload: the count and the width of the headers (2 bytes when every
// block of the level is under 16 KiB, as for small faces: 14 bits of size and the 2 bits of the
// encoding; else the stored 4 bytes), the headers, then the position of every 64th block, so
// that a position costs at most 63 additions instead of 8 bytes per face.
constexpr uint32_t kCheckpointEvery = 64;
constexpr uint32_t kNarrowLimit = 1u << 14;

struct LevelIndexLayout {
    uint32_t count;
    uint32_t width;
    size_t headersAt, checkpointsAt, bytes;
    LevelIndexLayout(uint32_t n, uint32_t headerWidth) : count(n), width(headerWidth)
    {
        headersAt = 8;
        checkpointsAt = (headersAt + size_t(width) * n + 7) & ~size_t(7);
        bytes = checkpointsAt + size_t(8) * ((size_t(n) + kCheckpointEvery - 1) / kCheckpointEvery);
    }
    static LevelIndexLayout of(const Block& index)
    {
        uint32_t fields[2];
        memcpy(fields, index.data(), sizeof(fields));
        return LevelIndexLayout(fields[0], fields[1]);
    }
    FaceDataHeader header(const uint8_t* payload, uint32_t i) const
    {
        FaceDataHeader h;
        if (width == 2) {
            uint16_t narrow;
            memcpy(&narrow, payload + headersAt + 2 * size_t(i), 2);
            h.data = (uint32_t(narrow >> 14) << 30) | (narrow & (kNarrowLimit - 1));
        } else {
            memcpy(&h.data, payload + headersAt + 4 * size_t(i), 4);
        }
        return h;
    }
};

Block* fail(ReadError& error, ReadErrorCode code)
{
    error = ReadError(code);
    return nullptr;
}

// Inflates a planar image (into the inflater's scratch) and interleaves its channels into dst.
bool decodeImage(const FileIndex& index, Encoding encoding, PtexZip::Inflater& inflater, const uint8_t* zip,
                 uint32_t zipSize, Res res, uint8_t* dst)
{
    const DataType dt = index.dataType();
    const size_t size = size_t(index.pixelSize) << (res.ulog2 + res.vlog2);
    uint8_t* planar = inflater.imageBuffer(size);
    if (!planar || !inflater.inflateExact(zip, zipSize, planar, size)) return false;
    if (encoding == enc_diffzipped) PtexUtils::decodeDifference(planar, int(size), dt);
    const int rowBytes = DataSize(dt) * res.u();
    PtexUtils::interleave(planar, rowBytes, res.u(), res.v(), dst, index.pixelSize * res.u(), dt,
                          index.header.nchannels);
    return true;
}

void premultiply(const FileIndex& index, uint8_t* data, int count)
{
    PtexUtils::multalpha(data, count, index.dataType(), index.header.nchannels, index.header.alphachan);
}

Block* decodeTileDirectory(ByteSource& file, const FileIndex& index, uint32_t blockSize, uint64_t pos, Res res,
                           bool level0, DataResidency& residency, ReadError& error)
{
    const int pixelSize = index.pixelSize;
    uint8_t prefix[kTiledBlockPrefixSize];
    if (blockSize < kTiledBlockPrefixSize) return fail(error, ReadErrorCode::readFailed);
    if (!file.readAt(pos, prefix, kTiledBlockPrefixSize, error)) return nullptr;
    Res tileRes{int8_t(prefix[0]), int8_t(prefix[1])};
    const uint32_t tileHeaderSize = getU32(prefix + 2);
    if (tileRes.ulog2 < 0 || tileRes.vlog2 < 0 || tileRes.ulog2 > res.ulog2 || tileRes.vlog2 > res.vlog2 ||
        tileHeaderSize > blockSize - kTiledBlockPrefixSize)
        return fail(error, ReadErrorCode::invalidTiledBlock);
    // Every tile takes at least one byte of the block: bound the directory before allocating it.
    const uint64_t ntiles = uint64_t(1) << ((res.ulog2 - tileRes.ulog2) + (res.vlog2 - tileRes.vlog2));
    if (ntiles > blockSize - kTiledBlockPrefixSize - tileHeaderSize || !plausibleInflate(4 * ntiles, tileHeaderSize))
        return fail(error, ReadErrorCode::invalidTiledBlock);
    std::unique_ptr<TileDirectory> dir = TileDirectory::create(tileRes, res.ntilesu(tileRes), int(ntiles), true);
    std::vector<uint8_t> headerBytes(size_t(4) * ntiles);
    if (!dir) return fail(error, ReadErrorCode::outOfMemory);
    if (!file.readZip(pos + kTiledBlockPrefixSize, tileHeaderSize, headerBytes.data(), headerBytes.size(), error))
        return nullptr;
    uint64_t offset = kTiledBlockPrefixSize + uint64_t(tileHeaderSize);
    for (int t = 0; t < dir->ntiles; ++t) {
        FaceDataHeader& th = dir->headers[t];
        th.data = getU32(&headerBytes[4 * size_t(t)]);
        if (th.encoding() == enc_tiled || (th.encoding() == enc_constant && th.blocksize() != uint32_t(pixelSize)))
            return fail(error, ReadErrorCode::invalidTileHeader);
        dir->offsets[t] = pos + offset;
        offset += th.blocksize();
    }
    if (offset != blockSize) return fail(error, ReadErrorCode::tileSizesMismatch);
    Block* block = residency.makeBlock(Block::kTiled, res, pixelSize, 0);
    if (!block) return fail(error, ReadErrorCode::outOfMemory);
    block->level0 = level0;
    block->texels = nullptr;
    const size_t dirBytes = dir->bytes();
    block->tiles = std::move(dir);
    block->bytes += dirBytes;
    residency.addMemory(int64_t(dirBytes));
    return block;
}

}  // namespace

Block* readLevelIndex(ByteSource& file, const FileIndex& index, int level, DataResidency& residency, ReadError& error)
{
    const LevelInfo& li = index.levelInfo[size_t(level)];
    std::vector<uint8_t> headerBytes(size_t(4) * li.nfaces);
    if (!file.readZip(index.levelPos[size_t(level)], li.levelheadersize, headerBytes.data(), headerBytes.size(), error))
        return nullptr;
    // Blocks follow the header table back to back and must all lie inside the level.
    uint64_t total = li.levelheadersize;
    bool narrow = true;
    for (uint32_t i = 0; i < li.nfaces; ++i) {
        FaceDataHeader header;
        header.data = getU32(&headerBytes[4 * size_t(i)]);
        total += header.blocksize();
        narrow = narrow && header.blocksize() < kNarrowLimit;
    }
    if (total > li.leveldatasize) return fail(error, ReadErrorCode::levelDataOverrun);
    const LevelIndexLayout layout(li.nfaces, narrow ? 2 : 4);
    Block* block = residency.makeBlock(Block::kIndex, Res(0, 0), 0, layout.bytes);
    if (!block) return fail(error, ReadErrorCode::outOfMemory);
    uint8_t* payload = block->payload();
    const uint32_t fields[2] = {layout.count, layout.width};
    memcpy(payload, fields, sizeof(fields));
    uint64_t* checkpoints = reinterpret_cast<uint64_t*>(payload + layout.checkpointsAt);
    uint64_t offset = index.levelPos[size_t(level)] + li.levelheadersize;
    for (uint32_t i = 0; i < li.nfaces; ++i) {
        FaceDataHeader header;
        header.data = getU32(&headerBytes[4 * size_t(i)]);
        if (i % kCheckpointEvery == 0) checkpoints[i / kCheckpointEvery] = offset;
        if (narrow) {
            const uint16_t packed = uint16_t((uint32_t(header.encoding()) << 14) | header.blocksize());
            memcpy(payload + layout.headersAt + 2 * size_t(i), &packed, 2);
        } else {
            memcpy(payload + layout.headersAt + 4 * size_t(i), &header.data, 4);
        }
        offset += header.blocksize();
    }
    return block;
}

uint32_t levelIndexCount(const Block& levelIndex) { return LevelIndexLayout::of(levelIndex).count; }

BlockLocation locateInLevel(const Block& levelIndex, uint32_t position)
{
    const LevelIndexLayout layout = LevelIndexLayout::of(levelIndex);
    const uint8_t* payload = levelIndex.data();
    const uint64_t* checkpoints = reinterpret_cast<const uint64_t*>(payload + layout.checkpointsAt);
    BlockLocation location;
    location.header = layout.header(payload, position);
    location.pos = checkpoints[position / kCheckpointEvery];
    for (uint32_t i = position - position % kCheckpointEvery; i < position; ++i)
        location.pos += layout.header(payload, i).blocksize();
    return location;
}

Block* decodeStoredBlock(ByteSource& file, const FileIndex& index, const BlockLocation& location, Res res, bool level0,
                         DataResidency& residency, ReadError& error)
{
    const uint32_t blockSize = location.header.blocksize();
    const uint64_t pos = location.pos;
    const int pixelSize = index.pixelSize;
    const bool premultiplied = level0 && index.premultiply;
    switch (location.header.encoding()) {
    case enc_constant: {
        if (blockSize != uint32_t(pixelSize)) return fail(error, ReadErrorCode::invalidConstantBlock);
        Block* block = residency.makeBlock(Block::kConstant, res, pixelSize, size_t(pixelSize));
        if (!block) return fail(error, ReadErrorCode::outOfMemory);
        if (!file.readAt(pos, block->payload(), size_t(pixelSize), error)) {
            residency.discard(block);
            return nullptr;
        }
        if (premultiplied) premultiply(index, block->payload(), 1);
        block->level0 = level0;
        return block;
    }
    case enc_zipped:
    case enc_diffzipped: {
        const size_t size = size_t(pixelSize) << (res.ulog2 + res.vlog2);
        if (!plausibleInflate(size, blockSize)) return fail(error, ReadErrorCode::unzipFailed);
        PtexZip::Inflater inflater;
        uint8_t* zip = inflater.zipBuffer(blockSize);
        if (!zip) return fail(error, ReadErrorCode::outOfMemory);
        if (!file.readAt(pos, zip, blockSize, error)) return nullptr;
        Block* block = residency.makeBlock(Block::kPacked, res, pixelSize, size);
        if (!block) return fail(error, ReadErrorCode::outOfMemory);
        if (!decodeImage(index, location.header.encoding(), inflater, zip, blockSize, res, block->payload())) {
            residency.discard(block);
            return fail(error, ReadErrorCode::unzipFailed);
        }
        if (premultiplied) premultiply(index, block->payload(), res.size());
        block->level0 = level0;
        return block;
    }
    case enc_tiled: return decodeTileDirectory(file, index, blockSize, pos, res, level0, residency, error);
    }
    return nullptr;
}

PTEX_NAMESPACE_END
