// The reader's open, its queries and meta data, and copies and single texels on top of the
// blocks (PtexReaderBlocks.cpp).

#include "PtexReader.h"

#include "PtexInputHandlers.h"
#include "PtexReadSections.h"
#include "PtexUtils.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

PTEX_NAMESPACE_BEGIN

using namespace PtexIO;

std::unique_ptr<PtexReader> PtexReader::open(const char* path, const Setup& setup, std::string& error)
{
    const std::string pathText = path ? path : "";
    ReadError failure;
    try {
        std::unique_ptr<PtexReader> reader(new PtexReader(pathText.c_str(), setup));
        std::lock_guard<std::mutex> lock(reader->_fileMutex);
        if (reader->openFile(failure)) return reader;
        reader->_file.close();
    } catch (const std::exception&) {
        failure = ReadError(ReadErrorCode::outOfMemory);
    }
    error = describe(failure, pathText);
    return nullptr;
}

PtexReader::PtexReader(const char* path, const Setup& setup)
    : _setup(setup),
      _ownResidency(setup.residency ? nullptr : std::make_unique<DataResidency>(0, 0)),
      _residency(setup.residency ? *setup.residency : *_ownResidency),
      _file(path, setup.inputHandler ? setup.inputHandler : &DefaultInputHandler::instance(), !setup.inputHandler)
{
    _openEntry.owner = this;
    _file.setObserver(this);
}

PtexReader::~PtexReader()
{
    {
        std::lock_guard<std::mutex> lock(_fileMutex);
        _file.close();
        _file.setObserver(nullptr);
        // Also when the lists closed the handle: once this returns they no longer reach us.
        _residency.files().closed(_openEntry);
    }
    _slots.reset();
    _ownedMetaData.reset();
    _residency.addMemory(-_memory.load());
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
    // The first error puts the texture in the error state and is the one reported: later
    // failures (of other threads, or of reads already under way) are consequences of it.
    if (_error.exchange(true, std::memory_order_acq_rel)) return;
    const std::string message = describe(error, _file.path());
    if (_setup.errorHandler)
        _setup.errorHandler->reportError(message.c_str());
    else
        fputs(message.c_str(), stderr);
}

bool PtexReader::openFile(ReadError& error)
{
    if (!_file.open(error) || !parseFileIndex(_file, _setup.premultiply, _index, error)) return false;
    _file.rememberIdentity(_index);
    const int pixelSize = _index.pixelSize;
    _zeroTexel = std::make_unique<uint8_t[]>(size_t(pixelSize));  // zero-filled
    _errorFace.value = _zeroTexel.get();
    _errorFace.pixelSize = pixelSize;
    int keys = 0;
    for (uint32_t count : _index.keyCount) keys += count ? 1 : 0;
    _singleKey = keys <= 1;
    _slots = std::make_unique<BlockSlots>(_residency, _index.numFaces(), _index.numLevels());
    accountMemory(int64_t(sizeof(*this) + sizeof(BlockSlots) + _index.memoryBytes() + size_t(pixelSize)));
    return true;
}

void PtexReader::accountMemory(int64_t bytes)
{
    _memory.fetch_add(bytes);
    _residency.addMemory(bytes);
}

std::shared_ptr<ReadSections> PtexReader::readSections() const { return _residency.sections(); }

// ---- File access ----

// The handle's memory is counted while it is open.
void PtexReader::handleOpened()
{
    accountMemory(int64_t(_file.handleBytes()));
    _residency.files().opened(_openEntry);
}

void PtexReader::handleClosed()
{
    _residency.files().closed(_openEntry);
    accountMemory(-int64_t(_file.handleBytes()));
}

void PtexReader::seeked()
{
    _residency.countBlockRead();
    _residency.files().used(_openEntry);
}

bool PtexReader::tryCloseFile()
{
    if (!_fileMutex.try_lock()) return false;
    _file.close(false);
    accountMemory(-int64_t(_file.handleBytes()));
    _fileMutex.unlock();
    return true;
}

bool PtexReader::readMetaDataBlock(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize)
{
    ReadError error;
    {
        std::lock_guard<std::mutex> lock(_fileMutex);
        if (_file.readZip(pos, zipSize, dst, memSize, error)) return true;
    }
    reportReadError(error);
    return false;
}

// ---- Queries ----

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
    std::lock_guard<std::mutex> lock(_metaDataMutex);
    meta = _metaData.load(std::memory_order_relaxed);
    if (meta) return meta;  // another thread built it first
    accountMemory(int64_t(built->memoryBytes()));
    _ownedMetaData = std::move(built);
    _metaData.store(_ownedMetaData.get(), std::memory_order_release);
    return _ownedMetaData.get();
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
        tile = static_cast<Block*>(data)->getTile(index, hold);
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
// block (and tile) is published already, read from the blocks directly instead of through the
// PtexFaceData interface. False when anything is not published yet; getPixel then takes the
// loading path. Handles taken here are given back before it returns.
bool PtexReader::readResidentTexel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Hold hold)
{
    if (inErrorState()) return false;
    Block* block = hold == Hold::section ? _slots->findFaceInSection(0, uint32_t(faceid))
                                         : _slots->find(blockKey(BlockRole::levelFace, 0, uint32_t(faceid)), hold);
    if (!block) return false;
    Block* tile = nullptr;
    const uint8_t* texel;
    // A stored face's block holds its texels right after itself (a constant-encoded face: one
    // texel), at the face's resolution. The address is formed from the block pointer and the
    // face's resolution alone, not from fields of the block, so that the processor can load
    // the texel while the block's first line is still on its way.
    const size_t pixelSize = size_t(_index.pixelSize);
    const size_t packedOffset = (size_t(v) * size_t(_index.faces[faceid].res.u()) + size_t(u)) * pixelSize;
    const Block::Kind kind = block->kind;
    if (kind == Block::kPacked) {
        texel = block->payload() + packedOffset;
    } else if (kind == Block::kConstant) {
        texel = block->payload();
    } else {
        const TileDirectory& tiles = *block->tiles;
        const Res tileRes = tiles.tileRes;
        const int index = (v >> tileRes.vlog2) * tiles.ntilesu + (u >> tileRes.ulog2);
        if (index >= 0 && index < tiles.ntiles) tile = _slots->findTile(*block, index, hold);
        if (!tile) {
            if (hold == Hold::handle) block->release();
            return false;
        }
        const int tu = u & (tileRes.u() - 1), tv = v & (tileRes.v() - 1);
        texel = tile->data();
        if (tile->kind != Block::kConstant) texel += (size_t(tv) * size_t(tileRes.u()) + size_t(tu)) * pixelSize;
    }
    const DataType dt = _index.dataType();
    texelToFloat(result, texel + size_t(firstchan) * size_t(DataSize(dt)), dt, nchannels);
    if (hold == Hold::handle) {
        if (tile) tile->release();
        block->release();
    }
    return true;
}

// ---- Uncached open ----

PtexTexture* PtexTexture::open(const char* path, Ptex::String& error, bool premultiply)
{
    PtexReader::Setup setup;
    setup.premultiply = premultiply;
    return PtexReader::open(path, setup, error).release();
}

PTEX_NAMESPACE_END
