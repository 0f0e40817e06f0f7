// The reader: open, lazy decoding on first use, publication and eviction of blocks, and the
// PtexTexture queries on top of them.

#include "PtexReader.h"

#include "PtexBlockDecoder.h"
#include "PtexHalf.h"
#include "PtexInputHandlers.h"
#include "PtexReadSections.h"
#include "PtexReductions.h"
#include "PtexUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

PTEX_NAMESPACE_BEGIN

using namespace PtexIO;

namespace {

std::unique_ptr<uint8_t[]> allocateBytes(size_t size)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size : 1]);
}

}  // namespace

std::unique_ptr<PtexReader> PtexReader::open(const char* path, const Setup& setup, std::string& error)
{
    const std::string pathText = path ? path : "";
    std::unique_ptr<PtexReader> reader(new (std::nothrow) PtexReader(pathText.c_str(), setup));
    if (!reader) {
        error = describe(ReadError(ReadErrorCode::outOfMemory), pathText);
        return nullptr;
    }
    ReadError failure;
    try {
        std::lock_guard<std::mutex> lock(reader->_mutex);
        if (reader->openFile(failure)) return reader;
    } catch (const std::exception&) {
        failure = ReadError(ReadErrorCode::outOfMemory);
    }
    error = describe(failure, pathText);
    std::lock_guard<std::mutex> lock(reader->_mutex);
    reader->_file.close();
    return nullptr;
}

PtexReader::PtexReader(const char* path, const Setup& setup)
    : _setup(setup),
      _file(path, setup.inputHandler ? setup.inputHandler : &DefaultInputHandler::instance(), !setup.inputHandler)
{
    _file.setObserver(this);
}

PtexReader::~PtexReader()
{
    if (_setup.residency) {
        for (auto& level : _ownedLevels)
            for (auto& block : level->owned) _setup.residency->blockDropped(block.get());
        for (auto& table : _ownedReductions)
            for (auto& block : table->owned) {
                _setup.residency->blockDropped(block.get());
                if (block->tileTable)
                    for (auto& tile : block->tileTable->owned) _setup.residency->blockDropped(tile.get());
            }
        for (auto& level : _ownedLevels)
            for (auto& block : level->owned)
                if (block->tileTable)
                    for (auto& tile : block->tileTable->owned) _setup.residency->blockDropped(tile.get());
        _setup.residency->addMemory(-_memory.load());
    }
    _file.close();
}

void PtexReader::release()
{
    if (_setup.owner)
        _setup.owner->textureReleased(this);
    else
        delete this;
}

void PtexReader::reportReadError(const ReadError& error)
{
    const std::string message = describe(error, _file.path());
    _error.store(true, std::memory_order_release);
    if (_setup.errorHandler)
        _setup.errorHandler->reportError(message.c_str());
    else
        fputs(message.c_str(), stderr);
}

bool PtexReader::openFile(ReadError& error)
{
    if (!_file.open(error) || !parseFileIndex(_file, _setup.premultiply, _index, error)) return false;
    _file.rememberIdentity(_index);

    const int nfaces = _index.numFaces();
    const int pixelSize = _index.pixelSize;
    _zeroTexel = allocateBytes(size_t(pixelSize));
    memset(_zeroTexel.get(), 0, size_t(pixelSize));
    _errorFace.value = _zeroTexel.get();
    _errorFace.pixelSize = pixelSize;
    _constFaces.resize(size_t(nfaces));
    for (int f = 0; f < nfaces; ++f) {
        _constFaces[f].value = _index.constantValue(f);
        _constFaces[f].pixelSize = pixelSize;
    }
    _levels = std::make_unique<std::atomic<LevelTable*>[]>(size_t(_index.numLevels()));
    for (int i = 0; i < _index.numLevels(); ++i) _levels[i].store(nullptr, std::memory_order_relaxed);
    _reductions = std::make_unique<std::atomic<ReductionTable*>[]>(size_t(nfaces));
    for (int f = 0; f < nfaces; ++f) _reductions[f].store(nullptr, std::memory_order_relaxed);

    const int64_t base = int64_t(sizeof(*this)) + int64_t(_index.memoryBytes()) +
                         int64_t(nfaces) * int64_t(sizeof(ConstantFaceData) + sizeof(void*)) +
                         int64_t(_index.numLevels()) * int64_t(sizeof(void*));
    accountMemory(base);
    return true;
}

// ---- File access (under _mutex) ----

void PtexReader::handleOpened()
{
    if (_setup.residency) _setup.residency->fileOpened(this);
}

void PtexReader::handleClosed()
{
    if (_setup.residency) _setup.residency->fileClosed(this);
}

void PtexReader::seeked()
{
    if (_setup.residency) _setup.residency->countBlockRead();
}

bool PtexReader::tryCloseFile()
{
    if (!_mutex.try_lock()) return false;
    _file.close(false);
    _mutex.unlock();
    return true;
}

bool PtexReader::readMetaDataBlock(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize)
{
    ReadError error;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_file.readZip(pos, zipSize, dst, memSize, error)) return true;
    }
    reportReadError(error);
    return false;
}

void PtexReader::accountMemory(int64_t bytes)
{
    _memory.fetch_add(bytes);
    if (_setup.residency) _setup.residency->addMemory(bytes);
}

// ---- Header queries ----

PtexTexture::Info PtexReader::getInfo()
{
    Info info;
    info.meshType = meshType();
    info.dataType = dataType();
    info.uBorderMode = uBorderMode();
    info.vBorderMode = vBorderMode();
    info.edgeFilterMode = edgeFilterMode();
    info.alphaChannel = alphaChannel();
    info.numChannels = numChannels();
    info.numFaces = numFaces();
    return info;
}

const FaceInfo& PtexReader::getFaceInfo(int faceid)
{
    if (faceid < 0 || uint32_t(faceid) >= _index.header.nfaces) return _defaultFaceInfo;
    return _index.faces[faceid];
}

PtexMetaData* PtexReader::getMetaData()
{
    PtexMetaDataReader* meta = _metaData.load(std::memory_order_acquire);
    if (meta) return meta;
    std::unique_ptr<PtexMetaDataReader> built;
    try {
        built = std::make_unique<PtexMetaDataReader>(static_cast<MetaDataSource&>(*this));
        const PtexIO::ExtHeader& ext = _index.extHeader;
        built->load(_index.metaDataPos, _index.header.metadatazipsize, _index.header.metadatamemsize,
                    _index.lmdHeaderPos, ext.lmdheaderzipsize, ext.lmdheadermemsize, _index.lmdDataPos,
                    ext.lmddatasize);
        for (const FileIndex::MetaEdit& edit : _index.metaEdits)
            if (!inErrorState()) built->loadEdit(edit.pos, edit.zipSize, edit.memSize);
    } catch (const std::exception&) {
        reportReadError(ReadError(ReadErrorCode::outOfMemory));
        if (!built) return nullptr;
    }
    std::lock_guard<std::mutex> lock(_mutex);
    meta = _metaData.load(std::memory_order_relaxed);
    if (meta) return meta;  // another thread built it first
    int64_t bytes = int64_t(built->memoryBytes());
    _memory.fetch_add(bytes);
    if (_setup.residency) _setup.residency->addMemory(bytes);
    _ownedMetaData = std::move(built);
    _metaData.store(_ownedMetaData.get(), std::memory_order_release);
    return _ownedMetaData.get();
}

// ---- Level tables and face blocks ----

PtexReader::LevelTable* PtexReader::levelTable(int level)
{
    LevelTable* table = _levels[level].load(std::memory_order_acquire);
    if (table) return table;
    std::lock_guard<std::mutex> lock(_mutex);
    return loadLevelLocked(level);
}

PtexReader::LevelTable* PtexReader::loadLevelLocked(int level)
{
    LevelTable* table = _levels[level].load(std::memory_order_relaxed);
    if (table || inErrorState()) return table;
    const LevelInfo& li = _index.levelInfo[level];
    std::unique_ptr<LevelTable> built(new LevelTable);
    built->headers.resize(li.nfaces);
    built->offsets.resize(li.nfaces);
    std::vector<uint8_t> headerBytes(size_t(4) * li.nfaces);
    ReadError error;
    if (!_file.readZip(_index.levelPos[level], li.levelheadersize, headerBytes.data(), headerBytes.size(), error)) {
        reportReadError(error);
        return nullptr;
    }
    // Blocks follow the header table back to back and must all lie inside the level.
    uint64_t offset = li.levelheadersize;
    for (uint32_t i = 0; i < li.nfaces; ++i) {
        built->headers[i].data = getU32(&headerBytes[4 * size_t(i)]);
        built->offsets[i] = _index.levelPos[level] + offset;
        offset += built->headers[i].blocksize();
    }
    if (offset > li.leveldatasize) {
        reportReadError(ReadError(ReadErrorCode::levelDataOverrun));
        return nullptr;
    }
    if (level == 0) {
        for (const auto& edit : _index.faceEdits) {
            built->headers[edit.first] = edit.second.header;
            built->offsets[edit.first] = edit.second.offset;
        }
    }
    built->blocks = std::make_unique<std::atomic<FaceBlock*>[]>(size_t(li.nfaces));
    for (uint32_t i = 0; i < li.nfaces; ++i) built->blocks[i].store(nullptr, std::memory_order_relaxed);
    int64_t bytes =
        int64_t(sizeof(LevelTable)) + int64_t(li.nfaces) * int64_t(sizeof(FaceDataHeader) + 8 + sizeof(void*));
    _memory.fetch_add(bytes);
    if (_setup.residency) _setup.residency->addMemory(bytes);
    table = built.get();
    _ownedLevels.push_back(std::move(built));
    _levels[level].store(table, std::memory_order_release);
    return table;
}

bool PtexReader::decodeLocked(FaceBlock& block, FaceDataHeader header, uint64_t pos)
{
    ReadError error;
    if (decodeStoredBlock(_file, _index, header, pos, block, error)) return true;
    reportReadError(error);
    return false;
}

ReductionSource PtexReader::reductionSource() { return ReductionSource{*this, errorFace(), _index, this}; }

void PtexReader::publishLocked(FaceBlock& block, Hold hold)
{
    // Tiled faces keep only their tile directory; it stays until the texture goes away.
    _memory.fetch_add(int64_t(block.bytes));
    if (_setup.residency) {
        _setup.residency->addMemory(int64_t(block.bytes));
        block.lastUse.store(_setup.residency->epoch(), std::memory_order_relaxed);
    }
    block.residencyOwner = this;
    block.texels.store(block.pixels.get(), std::memory_order_release);
    block.refs.store(hold == Hold::handle ? 1 : 0, std::memory_order_release);
    if (_setup.residency && block.kind != FaceBlock::kTiled) _setup.residency->blockLoaded(&block);
}

// The lock-free way in: a handle, or for a section reader the block as long as it is resident,
// stamped as used (a handle is stamped when it is released).
bool PtexReader::take(FaceBlock& block, Hold hold)
{
    if (hold == Hold::handle) return block.tryAcquire();
    if (!block.resident()) return false;
    if (_setup.residency) block.stamp(_setup.residency->epoch());
    return true;
}

std::shared_ptr<ReadSections> PtexReader::readSections() const
{
    return _setup.residency ? _setup.residency->sections() : nullptr;
}

void PtexReader::afterLoad()
{
    if (_setup.residency && _setup.residency->overLimit()) _setup.residency->evictIfNeeded();
}

PtexFaceData* PtexReader::acquireLevelFace(int level, int index, int faceid, Hold hold)
{
    LevelTable* table = levelTable(level);
    if (!table) return errorFace();
    FaceBlock* block = table->blocks[index].load(std::memory_order_acquire);
    if (block && take(*block, hold)) return block;

    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (inErrorState()) return errorFace();
        block = table->blocks[index].load(std::memory_order_relaxed);
        if (!block) {
            // A reduced level serves only faces without edits, whose resolution is the stored one.
            const Res faceRes = _index.faces[faceid].res;
            const Res res(int8_t(faceRes.ulog2 - level), int8_t(faceRes.vlog2 - level));
            std::unique_ptr<FaceBlock> created(new FaceBlock(this, res, _index.pixelSize, level == 0));
            block = created.get();
            table->owned.push_back(std::move(created));
            table->blocks[index].store(block, std::memory_order_release);
        }
        if (block->refs.load(std::memory_order_acquire) >= 0) {
            // Resident; eviction needs this lock, so a plain increment is safe here.
            if (hold == Hold::handle) block->refs.fetch_add(1, std::memory_order_acquire);
            return block;
        }
        if (!decodeLocked(*block, table->headers[index], table->offsets[index])) return errorFace();
        publishLocked(*block, hold);
    }
    afterLoad();
    return block;
}

PtexFaceData* PtexReader::acquireTile(FaceBlock& face, int tile, Hold hold)
{
    if (face.kind != FaceBlock::kTiled || tile < 0 || tile >= face.tileTable->ntiles) return nullptr;
    TileTable& table = *face.tileTable;
    FaceBlock* block = table.tiles[tile].load(std::memory_order_acquire);
    if (block && take(*block, hold)) return block;
    if (table.computed) {
        std::unique_ptr<FaceBlock> computed = computeReducedTile(reductionSource(), table, tile);
        if (!computed) return errorFace();
        return publishComputed(table.tiles[tile], table.owned, std::move(computed), hold);
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (inErrorState()) return errorFace();
        block = table.tiles[tile].load(std::memory_order_relaxed);
        if (!block) {
            std::unique_ptr<FaceBlock> created(new FaceBlock(this, table.tileRes, _index.pixelSize, face.level0));
            block = created.get();
            table.owned.push_back(std::move(created));
            table.tiles[tile].store(block, std::memory_order_release);
        }
        if (block->refs.load(std::memory_order_acquire) >= 0) {
            if (hold == Hold::handle) block->refs.fetch_add(1, std::memory_order_acquire);
            return block;
        }
        if (!decodeLocked(*block, table.headers[tile], table.offsets[tile])) return errorFace();
        publishLocked(*block, hold);
    }
    afterLoad();
    return block;
}

void PtexReader::blockReleased(FaceBlock& block)
{
    if (_setup.residency) {
        block.stamp(_setup.residency->epoch());
        if (_setup.residency->overLimit()) _setup.residency->evictIfNeeded();
    }
}

bool PtexReader::tryEvict(FaceBlock& block, ReadSections& sections)
{
    // Never waits for the lock: the residency calls this with its list locked, and a loading
    // reader takes the list's lock after its own.
    if (!_mutex.try_lock()) return false;
    std::lock_guard<std::mutex> lock(_mutex, std::adopt_lock);
    if (!sections.reserve()) return false;
    int expected = 0;
    if (!block.refs.compare_exchange_strong(expected, -1, std::memory_order_seq_cst)) return false;
    // Section readers may still be reading the texels: they are retired, not freed, and stay
    // counted in the cache's total until they are.
    sections.retire(block.pixels.release(), block.bytes);
    _memory.fetch_sub(int64_t(block.bytes));
    return true;
}

// ---- Serving resolutions ----

PtexFaceData* PtexReader::getData(int faceid) { return getData(faceid, getFaceInfo(faceid).res); }

PtexFaceData* PtexReader::getData(int faceid, Res res) { return getData(faceid, res, Hold::handle); }

PtexFaceData* PtexReader::getData(int faceid, Res res, Hold hold)
{
    if (faceid < 0 || uint32_t(faceid) >= _index.header.nfaces || inErrorState()) return errorFace();
    const FaceInfo& face = _index.faces[faceid];
    if (face.isConstant() || (res.ulog2 == 0 && res.vlog2 == 0)) return &_constFaces[faceid];
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    try {
        if (redu == 0 && redv == 0) return acquireLevelFace(0, faceid, faceid, hold);
        if (redu == redv && !face.hasEdits() && redu > 0 && redu < _index.header.nlevels &&
            _index.rfaceids[faceid] < _index.levelInfo[redu].nfaces)
            return acquireLevelFace(redu, int(_index.rfaceids[faceid]), faceid, hold);
        return acquireReduction(faceid, res, hold);
    } catch (const std::exception&) {
        // Only the loading paths allocate; nothing may leave the Ptex interface as an exception.
        reportReadError(ReadError(ReadErrorCode::outOfMemory));
        return errorFace();
    }
}

PtexFaceData* PtexReader::reductionError(int faceid, Res res, const char* message)
{
    std::lock_guard<std::mutex> lock(_warnMutex);
    if (_warned.insert(std::make_pair(faceid, res.val())).second) fprintf(stderr, "%s\n", message);
    return errorFace();
}

PtexFaceData* PtexReader::acquireReduction(int faceid, Res res, Hold hold)
{
    const FaceInfo& face = _index.faces[faceid];
    if (res.ulog2 < 0 || res.vlog2 < 0)
        return reductionError(faceid, res, "PtexReader::getData - reductions below 1 pixel not supported");
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    if (redu < 0 || redv < 0) return reductionError(faceid, res, "PtexReader::getData - enlargements not supported");
    if (_index.triangles() && redu != redv)
        return reductionError(faceid, res,
                              "PtexReader::getData - anisotropic reductions not supported for triangle mesh");

    ReductionTable* table = _reductions[faceid].load(std::memory_order_acquire);
    const int slot = res.ulog2 * (face.res.vlog2 + 1) + res.vlog2;
    if (table) {
        FaceBlock* block = table->blocks[slot].load(std::memory_order_acquire);
        if (block && take(*block, hold)) return block;
    }

    // Computed outside the lock from (recursively obtained) source data; if another thread
    // publishes the same reduction first, ours is discarded.
    std::unique_ptr<FaceBlock> computed = computeReduction(reductionSource(), faceid, res);
    if (!computed) return errorFace();
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (inErrorState()) return errorFace();
        table = _reductions[faceid].load(std::memory_order_relaxed);
        if (!table) {
            std::unique_ptr<ReductionTable> created(new ReductionTable);
            const int count = (face.res.ulog2 + 1) * (face.res.vlog2 + 1);
            created->vsize = face.res.vlog2 + 1;
            created->blocks = std::make_unique<std::atomic<FaceBlock*>[]>(size_t(count));
            for (int i = 0; i < count; ++i) created->blocks[i].store(nullptr, std::memory_order_relaxed);
            table = created.get();
            _ownedReductions.push_back(std::move(created));
            int64_t bytes = int64_t(sizeof(ReductionTable)) + count * int64_t(sizeof(void*));
            _memory.fetch_add(bytes);
            if (_setup.residency) _setup.residency->addMemory(bytes);
            _reductions[faceid].store(table, std::memory_order_release);
        }
    }
    return publishComputed(table->blocks[slot], table->owned, std::move(computed), hold);
}

// Publishes a computed reduction (or reduced tile) in its slot, unless another thread was
// first: then that block is handed out and the computed one dropped.
PtexFaceData* PtexReader::publishComputed(std::atomic<FaceBlock*>& slot, std::vector<std::unique_ptr<FaceBlock>>& owned,
                                          std::unique_ptr<FaceBlock> computed, Hold hold)
{
    FaceBlock* block = nullptr;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (inErrorState()) return errorFace();
        block = slot.load(std::memory_order_relaxed);
        if (!block) {
            block = new FaceBlock(this, computed->blockRes, _index.pixelSize, false);
            owned.emplace_back(block);
            slot.store(block, std::memory_order_release);
        }
        if (block->refs.load(std::memory_order_acquire) >= 0) {
            if (hold == Hold::handle) block->refs.fetch_add(1, std::memory_order_acquire);
            return block;
        }
        block->setKind(computed->kind);
        block->pixels = std::move(computed->pixels);
        if (computed->tileTable) block->tileTable = std::move(computed->tileTable);
        block->bytes = computed->bytes;
        publishLocked(*block, hold);
    }
    afterLoad();
    return block;
}

// ---- Copies and single texels ----

void PtexReader::getData(int faceid, void* buffer, int stride)
{
    getData(faceid, buffer, stride, getFaceInfo(faceid).res);
}

void PtexReader::getData(int faceid, void* buffer, int stride, Res res)
{
    if (!buffer || res.ulog2 < 0 || res.vlog2 < 0 || res.ulog2 > kMaxLog2 || res.vlog2 > kMaxLog2) return;
    // Row sizes and strides are ints in this interface; a row that cannot be addressed is refused.
    if ((uint64_t(_index.pixelSize) << res.ulog2) > kMaxImageBytes) return;
    const int P = _index.pixelSize;
    const int resu = res.u(), resv = res.v();
    const int rowBytes = P * resu;
    if (stride == 0) stride = rowBytes;
    uint8_t* dst = static_cast<uint8_t*>(buffer);
    PtexFaceData* data = getData(faceid, res);
    if (data->isConstant()) {
        PtexUtils::fill(data->getData(), dst, stride, resu, resv, P);
    } else if (data->isTiled()) {
        const Res tileRes = data->tileRes();
        const int tileu = tileRes.u(), tilev = tileRes.v();
        const int ntilesu = res.ntilesu(tileRes), ntiles = res.ntiles(tileRes);
        for (int t = 0; t < ntiles; ++t) {
            PtexFaceData* tile = data->getTile(t);
            uint8_t* d = dst + ptrdiff_t(t / ntilesu) * tilev * stride + ptrdiff_t(t % ntilesu) * tileu * P;
            if (!tile) {
                PtexUtils::fill(_zeroTexel.get(), d, stride, tileu, tilev, P);
                continue;
            }
            if (tile->isConstant())
                PtexUtils::fill(tile->getData(), d, stride, tileu, tilev, P);
            else
                PtexUtils::copy(tile->getData(), P * tileu, d, stride, tilev, P * tileu);
            tile->release();
        }
    } else if (data->res() == res) {
        PtexUtils::copy(data->getData(), rowBytes, dst, stride, resv, rowBytes);
    } else {
        PtexUtils::fill(_zeroTexel.get(), dst, stride, resu, resv, P);
    }
    data->release();
}

void PtexReader::getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels)
{
    getPixel(faceid, u, v, result, firstchan, nchannels, getFaceInfo(faceid).res);
}

void PtexReader::getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Res res)
{
    getPixel(faceid, u, v, result, firstchan, nchannels, res, Hold::handle);
}

void PtexReader::getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Res res, Hold hold)
{
    if (!result || nchannels <= 0) return;
    memset(result, 0, sizeof(float) * size_t(nchannels));
    if (firstchan < 0) return;
    const int n = std::min(nchannels, int(_index.header.nchannels) - firstchan);
    if (n <= 0) return;
    if (res.ulog2 < 0 || res.vlog2 < 0 || res.ulog2 > kMaxLog2 || res.vlog2 > kMaxLog2) return;
    if (u < 0 || v < 0 || u >= res.u() || v >= res.v()) return;
    if (uint32_t(faceid) < _index.header.nfaces && res == _index.faces[faceid].res &&
        !_index.faces[faceid].isConstant() && readResidentTexel(faceid, u, v, result, firstchan, n, hold))
        return;
    PtexFaceData* data = getData(faceid, res, hold);
    const DataType dt = _index.dataType();
    const uint8_t* texel = nullptr;
    PtexFaceData* tile = nullptr;
    if (data->isConstant()) {
        texel = static_cast<const uint8_t*>(data->getData());
    } else if (data->isTiled()) {
        const Res tileRes = data->tileRes();
        const int index = (v >> tileRes.vlog2) * res.ntilesu(tileRes) + (u >> tileRes.ulog2);
        tile = static_cast<FaceBlock*>(data)->getTile(index, hold);
        if (tile) {
            const int tu = u & (tileRes.u() - 1), tv = v & (tileRes.v() - 1);
            texel = static_cast<const uint8_t*>(tile->getData());
            if (!tile->isConstant()) texel += (size_t(tv) * tileRes.u() + tu) * _index.pixelSize;
        }
    } else if (data->res() == res) {
        texel = static_cast<const uint8_t*>(data->getData()) + (size_t(v) * res.u() + u) * _index.pixelSize;
    }
    if (texel) ConvertToFloat(result, texel + size_t(firstchan) * DataSize(dt), dt, n);
    if (hold == Hold::handle) {
        if (tile) tile->release();
        data->release();
    }
}

// The point filters' path: one texel at the stored resolution of a non-constant face whose
// block (and tile) is already resident, read from the blocks directly instead of through the
// PtexFaceData interface. False when anything is not resident yet; getPixel then takes the
// loading path. A tiled face's own block holds only its tile directory and is never evicted
// (only its tiles are), so it is used without taking a handle; the tile is held while read
// (or, in a read section, read as it is).
bool PtexReader::readResidentTexel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Hold hold)
{
    if (inErrorState()) return false;
    LevelTable* table = _levels[0].load(std::memory_order_acquire);
    if (!table) return false;
    FaceBlock* block = table->blocks[faceid].load(std::memory_order_acquire);
    // The acquire load of refs >= 0 makes the decoded fields of a published block visible.
    if (!block || !block->resident()) return false;
    FaceBlock* held = nullptr;
    const uint8_t* texel = nullptr;
    if (block->kind == FaceBlock::kTiled) {
        const TileTable& tiles = *block->tileTable;
        const Res tileRes = tiles.tileRes;
        const int index = (v >> tileRes.vlog2) * tiles.ntilesu + (u >> tileRes.ulog2);
        if (index < 0 || index >= tiles.ntiles) return false;
        FaceBlock* tile = tiles.tiles[index].load(std::memory_order_acquire);
        if (!tile || !take(*tile, hold)) return false;
        held = tile;
        texel = tile->data();
        if (tile->kind != FaceBlock::kConstant) {
            const int tu = u & (tileRes.u() - 1), tv = v & (tileRes.v() - 1);
            texel += (size_t(tv) * size_t(tileRes.u()) + size_t(tu)) * size_t(_index.pixelSize);
        }
    } else {
        if (!take(*block, hold)) return false;
        held = block;
        texel = block->data();
        if (block->kind != FaceBlock::kConstant) {
            if (u >= block->blockRes.u() || v >= block->blockRes.v()) {
                if (hold == Hold::handle) held->release();
                return false;
            }
            texel += (size_t(v) * size_t(block->blockRes.u()) + size_t(u)) * size_t(_index.pixelSize);
        }
    }
    const DataType dt = _index.dataType();
    ConvertToFloat(result, texel + size_t(firstchan) * size_t(DataSize(dt)), dt, nchannels);
    if (hold == Hold::handle) held->release();
    return true;
}

// ---- FaceBlock members that need the reader ----

void FaceBlock::release()
{
    refs.fetch_sub(1, std::memory_order_release);
    reader->blockReleased(*this);
}

void FaceBlock::getPixel(int u, int v, void* result)
{
    if (!result) return;
    if (kind == kConstant) {
        memcpy(result, data(), size_t(pixelSize));
        return;
    }
    if (u < 0 || v < 0 || u >= blockRes.u() || v >= blockRes.v()) {
        memset(result, 0, size_t(pixelSize));
        return;
    }
    if (kind == kPacked) {
        memcpy(result, data() + (size_t(v) * blockRes.u() + u) * pixelSize, size_t(pixelSize));
        return;
    }
    const Res tr = tileTable->tileRes;
    PtexFaceData* tile = getTile((v >> tr.vlog2) * tileTable->ntilesu + (u >> tr.ulog2));
    if (!tile) {
        memset(result, 0, size_t(pixelSize));
        return;
    }
    tile->getPixel(u & (tr.u() - 1), v & (tr.v() - 1), result);
    tile->release();
}

PtexFaceData* FaceBlock::getTile(int tile) { return getTile(tile, Hold::handle); }

PtexFaceData* FaceBlock::getTile(int tile, Hold hold)
{
    try {
        return reader->acquireTile(*this, tile, hold);
    } catch (const std::exception&) {
        reader->reportReadError(ReadError(ReadErrorCode::outOfMemory));
        return nullptr;
    }
}

// ---- Uncached open ----

PtexTexture* PtexTexture::open(const char* path, Ptex::String& error, bool premultiply)
{
    PtexReader::Setup setup;
    setup.premultiply = premultiply;
    return PtexReader::open(path, setup, error).release();
}

PTEX_NAMESPACE_END
