// How a request finds or makes its block: which data serve a resolution (constant value,
// stored level, dynamic reduction), the level tables and reduction order that loading needs,
// and tiles. Lookups go to the texture's BlockSlots first; only what is not published there is
// read (under the file lock) or computed (without it), then published.
#include "PtexReader.h"

#include "PtexBlockDecoder.h"
#include "PtexUtils.h"

#include <cstdio>
#include <cstring>

PTEX_NAMESPACE_BEGIN

namespace {

// Gives a handle back at the end of a scope.
struct HeldBlock {
    Block* block;
    explicit HeldBlock(Block* b) : block(b) {}
    ~HeldBlock()
    {
        if (block) block->release();
    }
    HeldBlock(const HeldBlock&) = delete;
    HeldBlock& operator=(const HeldBlock&) = delete;
};

}  // namespace

ReductionSource PtexReader::reductionSource()
{
    return ReductionSource{*this, errorFace(), _index, _residency, static_cast<TileLoader*>(this)};
}

PtexFaceData* PtexReader::getData(int faceid) { return getData(faceid, getFaceInfo(faceid).res); }

PtexFaceData* PtexReader::getData(int faceid, Res res) { return getData(faceid, res, Hold::handle); }

PtexFaceData* PtexReader::getData(int faceid, Res res, Hold hold)
{
    if (faceid < 0 || uint32_t(faceid) >= _index.header.nfaces || inErrorState()) return errorFace();
    const FaceInfo& face = _index.faces[size_t(faceid)];
    try {
        if (face.isConstant() || (res.ulog2 == 0 && res.vlog2 == 0)) return constantView(faceid, hold);
        const int redu = face.res.ulog2 - res.ulog2;
        const int redv = face.res.vlog2 - res.vlog2;
        if (redu == 0 && redv == 0) return levelFace(0, faceid, hold);
        if (redu == redv && !face.hasEdits() && redu > 0 && redu < _index.numLevels() &&
            storedLevelServes(redu, faceid))
            return levelFace(redu, faceid, hold);
        return reduction(faceid, res, hold);
    } catch (const std::exception&) {
        // Only the loading paths allocate; nothing may leave the Ptex interface as an exception.
        reportReadError(ReadError(ReadErrorCode::outOfMemory));
        return errorFace();
    }
}

// A face's value from the constant data, handed out as a block of its own so that it is
// released (and evicted) like any other.
PtexFaceData* PtexReader::constantView(int faceid, Hold hold)
{
    const uint64_t key = blockKey(BlockRole::constantView, 0, uint32_t(faceid));
    if (Block* block = _slots->find(key, hold)) return block;
    Block* made = _residency.makeBlock(Block::kConstant, Res(0, 0), _index.pixelSize, 0);
    if (!made) {
        reportReadError(ReadError(ReadErrorCode::outOfMemory));
        return errorFace();
    }
    made->key = key;
    made->texels = _index.constantValue(faceid);
    return published(made, hold);
}

PtexFaceData* PtexReader::published(Block* made, Hold hold)
{
    if (made->kind == Block::kTiled) made->loader = this;
    Block* block = _slots->publish(made, hold);
    if (block) return block;
    reportReadError(ReadError(ReadErrorCode::outOfMemory));
    return errorFace();
}

bool PtexReader::storedLevelServes(int level, int faceid)
{
    const int holds = _index.levelHolds(level, faceid);
    if (holds >= 0) return holds == 1;
    std::lock_guard<std::mutex> lock(_fileMutex);
    uint32_t rank = 0;
    return rankLocked(faceid, rank) && rank < _index.levelInfo[size_t(level)].nfaces;
}

PtexFaceData* PtexReader::levelFace(int level, int faceid, Hold hold)
{
    if (Block* block = _slots->find(blockKey(BlockRole::levelFace, uint16_t(level), uint32_t(faceid)), hold))
        return block;
    return loadLevelFace(level, faceid, hold);
}

PtexFaceData* PtexReader::loadLevelFace(int level, int faceid, Hold hold)
{
    const uint64_t key = blockKey(BlockRole::levelFace, uint16_t(level), uint32_t(faceid));
    const FaceInfo& face = _index.faces[size_t(faceid)];
    std::lock_guard<std::mutex> lock(_fileMutex);
    if (inErrorState()) return errorFace();
    if (Block* block = _slots->find(key, hold)) return block;  // loaded meanwhile

    BlockLocation location;
    if (level == 0 && face.hasEdits()) {
        const FileIndex::FaceEdit& edit = _index.faceEdits.at(uint32_t(faceid));
        location.header = edit.header;
        location.pos = edit.offset;
    } else {
        uint32_t position = uint32_t(faceid);
        if (level > 0 && !rankLocked(faceid, position)) return errorFace();
        HeldBlock table(levelIndexLocked(level));
        if (!table.block) return errorFace();
        if (position >= levelIndexCount(*table.block)) return errorFace();
        location = locateInLevel(*table.block, position);
    }
    const Res res(int8_t(face.res.ulog2 - level), int8_t(face.res.vlog2 - level));
    ReadError error;
    Block* made = decodeStoredBlock(_file, _index, location, res, level == 0, _residency, error);
    if (!made) {
        reportReadError(error);
        return errorFace();
    }
    made->key = key;
    return published(made, hold);
}

Block* PtexReader::levelIndexLocked(int level)
{
    const uint64_t key = blockKey(BlockRole::levelIndex, uint16_t(level), 0);
    if (Block* table = _slots->find(key, Hold::handle)) return table;
    ReadError error;
    Block* made = readLevelIndex(_file, _index, level, _residency, error);
    if (!made) {
        reportReadError(error);
        return nullptr;
    }
    made->key = key;
    Block* table = _slots->publish(made, Hold::handle);
    if (!table) reportReadError(ReadError(ReadErrorCode::outOfMemory));
    return table;
}

// A face's position in the reduced levels. Computed for all faces at once on first need, and
// kept as a block like the level tables.
bool PtexReader::rankLocked(int faceid, uint32_t& rank)
{
    if (_singleKey) {
        rank = uint32_t(faceid);
        return true;
    }
    const uint64_t key = blockKey(BlockRole::reductionOrder, 0, 0);
    Block* order = _slots->find(key, Hold::handle);
    if (!order) {
        Block* made = _residency.makeBlock(Block::kIndex, Res(0, 0), 0, sizeof(uint32_t) * size_t(_index.numFaces()));
        if (!made) {
            reportReadError(ReadError(ReadErrorCode::outOfMemory));
            return false;
        }
        _index.reductionOrder(reinterpret_cast<uint32_t*>(made->payload()));
        made->key = key;
        order = _slots->publish(made, Hold::handle);
        if (!order) {
            reportReadError(ReadError(ReadErrorCode::outOfMemory));
            return false;
        }
    }
    memcpy(&rank, order->data() + sizeof(uint32_t) * size_t(faceid), sizeof(uint32_t));
    order->release();
    return true;
}

PtexFaceData* PtexReader::reductionError(int faceid, Res res, const char* message)
{
    std::lock_guard<std::mutex> lock(_warnMutex);
    if (_warned.insert(std::make_pair(faceid, res.val())).second) fprintf(stderr, "%s\n", message);
    return errorFace();
}

PtexFaceData* PtexReader::reduction(int faceid, Res res, Hold hold)
{
    const FaceInfo& face = _index.faces[size_t(faceid)];
    if (res.ulog2 < 0 || res.vlog2 < 0)
        return reductionError(faceid, res, "PtexReader::getData - reductions below 1 pixel not supported");
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    if (redu < 0 || redv < 0) return reductionError(faceid, res, "PtexReader::getData - enlargements not supported");
    if (_index.triangles() && redu != redv)
        return reductionError(faceid, res,
                              "PtexReader::getData - anisotropic reductions not supported for triangle mesh");

    const uint64_t key = blockKey(BlockRole::reduction, res.val(), uint32_t(faceid));
    if (Block* block = _slots->find(key, hold)) return block;
    // Computed without any lock from (recursively obtained) source data; if another thread
    // publishes the same reduction first, ours is discarded.
    Block* made = computeReduction(reductionSource(), faceid, res);
    if (!made) return errorFace();
    if (inErrorState()) {
        _residency.discard(made);
        return errorFace();
    }
    made->key = key;
    return published(made, hold);
}

PtexFaceData* PtexReader::acquireTile(Block& directory, int tile, Hold hold)
{
    try {
        if (Block* block = _slots->findTile(directory, tile, hold)) return block;
        return loadTile(directory, tile, hold);
    } catch (const std::exception&) {
        reportReadError(ReadError(ReadErrorCode::outOfMemory));
        return nullptr;
    }
}

PtexFaceData* PtexReader::loadTile(Block& directory, int tile, Hold hold)
{
    const TileDirectory& tiles = *directory.tiles;
    Block* made = nullptr;
    if (tiles.computed) {
        made = computeReducedTile(reductionSource(), tiles, tile);
        if (!made) return errorFace();
    } else {
        std::lock_guard<std::mutex> lock(_fileMutex);
        if (inErrorState()) return errorFace();
        if (Block* block = _slots->findTile(directory, tile, hold)) return block;
        BlockLocation location;
        location.header = tiles.headers[tile];
        location.pos = tiles.offsets[tile];
        ReadError error;
        made = decodeStoredBlock(_file, _index, location, tiles.tileRes, directory.level0, _residency, error);
        if (!made) {
            reportReadError(error);
            return errorFace();
        }
    }
    if (inErrorState()) {
        _residency.discard(made);
        return errorFace();
    }
    made->key = directory.key;
    return _slots->publishTile(directory, tile, made, hold);
}

PTEX_NAMESPACE_END
