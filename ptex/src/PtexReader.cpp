// Opening, validation and lazy decoding of Ptex files.

#include "PtexReader.h"

#include "PtexHalf.h"
#include "PtexInputHandlers.h"
#include "PtexMetaDataReader.h"
#include "PtexReadSections.h"
#include "PtexResidency.h"
#include "PtexUtils.h"
#include "PtexZip.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

PTEX_NAMESPACE_BEGIN

using namespace PtexIO;

namespace {

// Largest decoded image the format allows: sizes are 32-bit signed in every implementation.
constexpr uint64_t kMaxImageBytes = 0x7fffffffu;
constexpr int kMaxLog2 = 30;

std::unique_ptr<uint8_t[]> allocateBytes(size_t size)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size : 1]);
}

// Learns the size of an input whose handler cannot tell it, by probing single bytes.
uint64_t probeSize(PtexInputHandler* io, PtexInputHandler::Handle handle)
{
    uint8_t byte;
    auto readable = [&](uint64_t pos) {
        io->seek(handle, int64_t(pos));
        return io->read(&byte, 1, handle) == 1;
    };
    if (!readable(0)) return 0;
    uint64_t lo = 0, hi = 1;  // byte lo is readable, byte hi is not (once found)
    while (readable(hi)) {
        lo = hi;
        if (hi >= (uint64_t(1) << 62)) return hi;
        hi *= 2;
    }
    while (hi - lo > 1) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (readable(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo + 1;
}

}  // namespace

std::unique_ptr<PtexReader> PtexReader::open(const char* path, const Setup& setup, std::string& error)
{
    std::unique_ptr<PtexReader> reader(new (std::nothrow) PtexReader(path ? path : "", setup));
    if (!reader) {
        error = "PtexReader error: out of memory PtexFile: " + std::string(path ? path : "") + "\n";
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> lock(reader->_mutex);
        if (!reader->openFile(error)) return nullptr;
    } catch (const std::exception&) {
        error = "PtexReader error: out of memory PtexFile: " + reader->_path + "\n";
        return nullptr;
    }
    return reader;
}

PtexReader::PtexReader(const char* path, const Setup& setup)
    : _path(path), _setup(setup), _premultiply(setup.premultiply)
{
    _io = setup.inputHandler ? setup.inputHandler : &DefaultInputHandler::instance();
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
    if (_handle) {
        _io->close(_handle);
        if (_setup.residency) _setup.residency->fileClosed(this);
    }
}

void PtexReader::release()
{
    if (_setup.owner)
        _setup.owner->textureReleased(this);
    else
        delete this;
}

void PtexReader::collect(const char* what)
{
    _collectedErrors += "PtexReader error: ";
    _collectedErrors += what;
    _collectedErrors += " PtexFile: " + _path + "\n";
}

void PtexReader::reportReadError(const char* what)
{
    std::string message = std::string("PtexReader error: ") + what + " PtexFile: " + _path + "\n";
    _error.store(true, std::memory_order_release);
    if (_setup.errorHandler)
        _setup.errorHandler->reportError(message.c_str());
    else
        fputs(message.c_str(), stderr);
}

bool PtexReader::openFile(std::string& error)
{
    _handle = _io->open(_path.c_str());
    if (!_handle) {
        // Read the reason first: building the message may touch errno.
        const int code = errno;
        const char* reason = _io->lastError();
        std::string why = reason ? reason : "";
        if (code == EISDIR && !_setup.inputHandler)
            error = "Not a ptex file: " + _path;
        else
            error = "Can't open ptex file: " + _path + "\n" + why;
        return false;
    }
    if (_setup.residency) _setup.residency->fileOpened(this);
    auto fail = [&](const std::string& message) {
        error = message;
        closeHandleLocked();
        return false;
    };

    if (auto* sized = dynamic_cast<SizedInputHandler*>(_io)) {
        if (!sized->size(_handle, _fileSize)) _fileSize = probeSize(_io, _handle);
    } else {
        _fileSize = probeSize(_io, _handle);
    }
    _filePos = UINT64_MAX;

    uint8_t headerBytes[kHeaderSize] = {};
    if (!readAtLocked(0, headerBytes, 4) || getU32(headerBytes) != kMagic) return fail("Not a ptex file: " + _path);
    if (!readAtLocked(4, headerBytes + 4, kHeaderSize - 4))
        return fail("PtexReader error: read failed (EOF) PtexFile: " + _path + "\n");
    _header.decode(headerBytes);
    if (_header.version != 1)
        return fail("Unsupported ptex file version (" + std::to_string(int(_header.version)) + "): " + _path);
    if (_header.meshtype > 1)
        return fail("Invalid mesh type (" + std::to_string(int(_header.meshtype)) + "): " + _path);

    if (_header.datatype > 3 || _header.nchannels < 1 || _header.nlevels < 1 || _header.extheadersize > _fileSize) {
        collect("invalid file header");
        return fail(_collectedErrors);
    }
    _pixelSize = _header.pixelSize();
    _premultiply = _setup.premultiply && _header.hasAlpha();

    uint8_t extBytes[kExtHeaderSize] = {};
    size_t extSize = std::min<size_t>(kExtHeaderSize, _header.extheadersize);
    if (!readAtLocked(kHeaderSize, extBytes, extSize)) {
        collect("read failed (EOF)");
        return fail(_collectedErrors);
    }
    _extHeader.decode(extBytes);
    memcpy(_headerBytes, headerBytes, kHeaderSize);
    memcpy(_headerBytes + kHeaderSize, extBytes, extSize);
    _headerBytesSize = kHeaderSize + extSize;

    // Section positions; each section is checked against the file size before the next
    // position is derived from it, so no sum can wrap.
    const uint64_t faceInfoPos = kHeaderSize + uint64_t(_header.extheadersize);
    bool sectionsOk = inFile(faceInfoPos, _header.faceinfosize, _fileSize);
    const uint64_t constDataPos = faceInfoPos + _header.faceinfosize;
    sectionsOk = sectionsOk && inFile(constDataPos, _header.constdatasize, _fileSize);
    const uint64_t levelInfoPos = constDataPos + _header.constdatasize;
    sectionsOk = sectionsOk && inFile(levelInfoPos, _header.levelinfosize, _fileSize);
    const uint64_t levelDataPos = levelInfoPos + _header.levelinfosize;
    sectionsOk = sectionsOk && inFile(levelDataPos, _header.leveldatasize, _fileSize);
    if (!sectionsOk) {
        collect("sections run past the end of the file");
        return fail(_collectedErrors);
    }
    _metaDataPos = levelDataPos + _header.leveldatasize;
    if (!inFile(_metaDataPos, _header.metadatazipsize, _fileSize)) {
        collect("meta data block runs past the end of the file");
        return fail(_collectedErrors);
    }
    const uint64_t metaEnd = _metaDataPos + _header.metadatazipsize;
    _lmdHeaderPos = metaEnd + kBarrierSize;
    uint64_t lastSectionEnd = metaEnd;
    if (_extHeader.lmdheaderzipsize > 0 || _extHeader.lmddatasize > 0) {
        if (!inFile(_lmdHeaderPos, _extHeader.lmdheaderzipsize, _fileSize) ||
            !inFile(_lmdHeaderPos + _extHeader.lmdheaderzipsize, _extHeader.lmddatasize, _fileSize)) {
            collect("large meta data runs past the end of the file");
            return fail(_collectedErrors);
        }
        _lmdDataPos = _lmdHeaderPos + _extHeader.lmdheaderzipsize;
        lastSectionEnd = _lmdDataPos + _extHeader.lmddatasize;
    }

    // Level info first: it confirms the face count before anything is allocated for it.
    if (uint64_t(_header.levelinfosize) < kLevelInfoRecordSize * _header.nlevels) {
        collect("invalid level info size");
        return fail(_collectedErrors);
    }
    {
        std::vector<uint8_t> levelBytes(kLevelInfoRecordSize * _header.nlevels);
        if (!readAtLocked(levelInfoPos, levelBytes.data(), levelBytes.size())) {
            collect("read failed (EOF)");
            return fail(_collectedErrors);
        }
        _levelInfo.resize(_header.nlevels);
        _levelPos.resize(_header.nlevels);
        uint64_t total = 0;
        bool ok = true;
        for (int i = 0; i < _header.nlevels; ++i) {
            LevelInfo& li = _levelInfo[i];
            li.decode(&levelBytes[kLevelInfoRecordSize * i]);
            ok = ok && li.leveldatasize <= _header.leveldatasize && li.levelheadersize <= li.leveldatasize;
            ok = ok && (i == 0 ? li.nfaces == _header.nfaces : li.nfaces <= _levelInfo[i - 1].nfaces);
            if (!ok) break;
            _levelPos[i] = levelDataPos + total;
            total += li.leveldatasize;  // each term <= file size: no wrap for 65535 levels
        }
        if (!ok || total != _header.leveldatasize) {
            collect("invalid level info");
            return fail(_collectedErrors);
        }
    }

    const uint64_t nfaces = _header.nfaces;
    if (!plausibleInflate(kFaceInfoRecordSize * nfaces, _header.faceinfosize) ||
        !plausibleInflate(uint64_t(_pixelSize) * nfaces, _header.constdatasize)) {
        collect("face count does not fit the file");
        return fail(_collectedErrors);
    }
    {
        std::unique_ptr<uint8_t[]> faceBytes = allocateBytes(kFaceInfoRecordSize * nfaces);
        if (!faceBytes ||
            !readZipLocked(faceInfoPos, _header.faceinfosize, faceBytes.get(), kFaceInfoRecordSize * nfaces))
            return fail(_collectedErrors);
        _faces.resize(nfaces);
        _storedRes.resize(nfaces);
        for (uint64_t f = 0; f < nfaces; ++f) {
            FaceInfo& face = _faces[f];
            face = decodeFaceInfo(&faceBytes[kFaceInfoRecordSize * f]);
            face.flags &= uint8_t(~FaceInfo::flag_hasedits);  // never stored; set only by edits
            if (!validateFace(face)) {
                collect("invalid face resolution");
                return fail(_collectedErrors);
            }
            sanitizeAdjacency(face);
            _storedRes[f] = face.res;
        }
    }
    _rfaceids.resize(nfaces);
    _faceids.resize(nfaces);
    PtexUtils::genRfaceids(_faces.data(), int(nfaces), _rfaceids.data(), _faceids.data());

    _constData = allocateBytes(size_t(_pixelSize) * nfaces);
    if (!_constData ||
        !readZipLocked(constDataPos, _header.constdatasize, _constData.get(), size_t(_pixelSize) * nfaces))
        return fail(_collectedErrors);
    if (_premultiply) premultiplyTexels(_constData.get(), int(nfaces));

    // Edits: with a recorded position they lie exactly there; very old files without one keep
    // them right after the meta data block, up to the end of the file.
    if (_extHeader.editdatapos != 0) {
        if (_extHeader.editdatasize > 0) {
            if (!inFile(_extHeader.editdatapos, _extHeader.editdatasize, _fileSize) ||
                _extHeader.editdatapos < lastSectionEnd) {
                collect("edit data outside the file");
                return fail(_collectedErrors);
            }
            if (!readEdits(_extHeader.editdatapos, _extHeader.editdatapos + _extHeader.editdatasize, true))
                return fail(_collectedErrors);
        }
    } else if (metaEnd < _fileSize) {
        if (!readEdits(metaEnd, _fileSize, false)) return fail(_collectedErrors);
    }

    _zeroTexel = allocateBytes(size_t(_pixelSize));
    memset(_zeroTexel.get(), 0, size_t(_pixelSize));
    _errorFace.value = _zeroTexel.get();
    _errorFace.pixelSize = _pixelSize;
    _constFaces.resize(nfaces);
    for (uint64_t f = 0; f < nfaces; ++f) {
        _constFaces[f].value = _constData.get() + size_t(_pixelSize) * f;
        _constFaces[f].pixelSize = _pixelSize;
    }
    _levels = std::make_unique<std::atomic<LevelTable*>[]>(size_t(_header.nlevels));
    for (int i = 0; i < _header.nlevels; ++i) _levels[i].store(nullptr, std::memory_order_relaxed);
    _reductions = std::make_unique<std::atomic<ReductionTable*>[]>(size_t(nfaces));
    for (uint64_t f = 0; f < nfaces; ++f) _reductions[f].store(nullptr, std::memory_order_relaxed);

    if (!_collectedErrors.empty()) return fail(_collectedErrors);

    int64_t base = int64_t(sizeof(*this)) +
                   int64_t(nfaces) * int64_t(sizeof(FaceInfo) + 2 * sizeof(uint32_t) + sizeof(Res) +
                                             sizeof(ConstantFaceData) + sizeof(void*) + size_t(_pixelSize)) +
                   int64_t(_header.nlevels) * int64_t(sizeof(LevelInfo) + sizeof(uint64_t) + sizeof(void*));
    _memory.fetch_add(base);
    if (_setup.residency) _setup.residency->addMemory(base);
    return true;
}

bool PtexReader::validateFace(FaceInfo& face) const
{
    const int ulog2 = face.res.ulog2, vlog2 = face.res.vlog2;
    if (ulog2 < 0 || vlog2 < 0 || ulog2 > kMaxLog2 || vlog2 > kMaxLog2) return false;
    if ((uint64_t(_pixelSize) << (ulog2 + vlog2)) > kMaxImageBytes) return false;
    if (_header.meshtype == mt_triangle && ulog2 != vlog2) return false;
    return true;
}

void PtexReader::sanitizeAdjacency(FaceInfo& face) const
{
    // Filters follow these links; a link outside the mesh becomes a border edge.
    const int64_t nfaces = _header.nfaces;
    int edges[4];
    for (int e = 0; e < 4; ++e) edges[e] = face.adjedge(e);
    for (int e = 0; e < 4; ++e) {
        if (face.adjfaces[e] < -1 || face.adjfaces[e] >= nfaces) {
            face.adjfaces[e] = -1;
            edges[e] = 0;
        }
    }
    if (_header.meshtype == mt_triangle) {
        face.adjfaces[3] = -1;
        edges[3] = 0;
        for (int e = 0; e < 3; ++e) {
            if (edges[e] == 3) {
                face.adjfaces[e] = -1;
                edges[e] = 0;
            }
        }
    }
    face.setadjedges(edges[0], edges[1], edges[2], edges[3]);
}

void PtexReader::premultiplyTexels(uint8_t* data, int count) const
{
    PtexUtils::multalpha(data, count, DataType(_header.datatype), _header.nchannels, _header.alphachan);
}

bool PtexReader::readEdits(uint64_t start, uint64_t end, bool strictEnd)
{
    uint64_t pos = start;
    while (pos < end) {
        uint8_t framing[kEditFramingSize];
        if (end - pos < kEditFramingSize || !readAtLocked(pos, framing, kEditFramingSize)) {
            if (!strictEnd) return true;  // a partial record at the end of an old file ends the scan
            collect("edit record runs past the edit data");
            return false;
        }
        const uint8_t editType = framing[0];
        const uint32_t editSize = getU32(framing + 1);
        if (editSize == 0) break;
        const uint64_t bodyPos = pos + kEditFramingSize;
        if (end - bodyPos < editSize) {
            if (!strictEnd) return true;
            collect("edit record runs past the edit data");
            return false;
        }
        _hasEdits = true;
        if (editType == et_editfacedata) {
            if (!readFaceEdit(bodyPos, editSize)) return false;
        } else if (editType == et_editmetadata) {
            uint8_t sizes[8];
            if (editSize < 8 || !readAtLocked(bodyPos, sizes, 8)) {
                collect("invalid meta data edit");
                return false;
            }
            MetaEdit edit;
            edit.pos = bodyPos + 8;
            edit.zipSize = getU32(sizes);
            edit.memSize = getU32(sizes + 4);
            if (uint64_t(edit.zipSize) + 8 > editSize) {
                collect("invalid meta data edit");
                return false;
            }
            _metaEdits.push_back(edit);
        }
        pos = bodyPos + editSize;
    }
    return true;
}

bool PtexReader::readFaceEdit(uint64_t bodyPos, uint32_t editSize)
{
    const size_t fixedSize = kFaceEditFixedSize + size_t(_pixelSize);
    if (editSize < fixedSize) {
        collect("invalid face edit");
        return false;
    }
    std::vector<uint8_t> body(fixedSize);
    if (!readAtLocked(bodyPos, body.data(), fixedSize)) {
        collect("read failed (EOF)");
        return false;
    }
    const uint32_t faceid = getU32(body.data());
    FaceInfo face = decodeFaceInfo(body.data() + 4);
    FaceDataHeader header;
    header.data = getU32(body.data() + 24);
    if (uint64_t(fixedSize) + header.blocksize() > editSize) {
        collect("invalid face edit");
        return false;
    }
    if (faceid >= _header.nfaces) return true;  // edits of faces that do not exist are ignored
    if (!validateFace(face)) {
        collect("invalid face resolution in edit");
        return false;
    }
    sanitizeAdjacency(face);
    face.flags |= FaceInfo::flag_hasedits;
    _faces[faceid] = face;
    uint8_t* value = _constData.get() + size_t(_pixelSize) * faceid;
    memcpy(value, body.data() + kFaceEditFixedSize, size_t(_pixelSize));
    if (_premultiply) premultiplyTexels(value, 1);
    if (face.isConstant()) {
        _faceEdits.erase(faceid);
    } else {
        FaceEdit& edit = _faceEdits[faceid];
        edit.header = header;
        edit.offset = bodyPos + fixedSize;
    }
    return true;
}

// ---- File access (under _mutex) ----

bool PtexReader::ensureHandleLocked()
{
    if (_handle) return true;
    _handle = _io->open(_path.c_str());
    if (!_handle) {
        std::string message = "Can't reopen PtexFile: " + _path + "\n";
        _error.store(true, std::memory_order_release);
        if (_setup.errorHandler)
            _setup.errorHandler->reportError(message.c_str());
        else
            fputs(message.c_str(), stderr);
        return false;
    }
    _filePos = UINT64_MAX;
    if (_setup.residency) _setup.residency->fileOpened(this);
    // The file must still be the one that was opened.
    uint8_t bytes[sizeof(_headerBytes)];
    _io->seek(_handle, 0);
    bool same = _io->read(bytes, _headerBytesSize, _handle) == _headerBytesSize &&
                memcmp(bytes, _headerBytes, _headerBytesSize) == 0;
    _filePos = same ? _headerBytesSize : UINT64_MAX;
    if (!same) {
        std::string message = "Header mismatch on reopen of PtexFile: " + _path + "\n";
        _error.store(true, std::memory_order_release);
        if (_setup.errorHandler)
            _setup.errorHandler->reportError(message.c_str());
        else
            fputs(message.c_str(), stderr);
        return false;
    }
    return true;
}

void PtexReader::closeHandleLocked()
{
    if (!_handle) return;
    _io->close(_handle);
    _handle = nullptr;
    if (_setup.residency) _setup.residency->fileClosed(this);
}

void PtexReader::closeHandleForResidencyLocked()
{
    if (!_handle) return;
    _io->close(_handle);
    _handle = nullptr;
}

bool PtexReader::readAtLocked(uint64_t pos, void* buffer, size_t size)
{
    if (size == 0) return true;
    if (!ensureHandleLocked()) return false;
    if (pos != _filePos) {
        _io->seek(_handle, int64_t(pos));
        if (_setup.residency) _setup.residency->countBlockRead();
    }
    size_t got = _io->read(buffer, size, _handle);
    if (got != size) {
        _filePos = UINT64_MAX;
        return false;
    }
    _filePos = pos + size;
    return true;
}

bool PtexReader::readZipLocked(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize)
{
    if (!plausibleInflate(memSize, zipSize) || !inFile(pos, zipSize, _fileSize)) {
        collect("unzip failed, file corrupt");
        return false;
    }
    std::unique_ptr<uint8_t[]> zip = allocateBytes(zipSize);
    if (!zip) {
        collect("out of memory");
        return false;
    }
    if (!readAtLocked(pos, zip.get(), zipSize)) {
        collect("read failed (EOF)");
        return false;
    }
    if (!PtexZip::inflateExact(zip.get(), zipSize, dst, memSize)) {
        collect("unzip failed, file corrupt");
        return false;
    }
    return true;
}

bool PtexReader::readZipBlock(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize)
{
    std::lock_guard<std::mutex> lock(_mutex);
    _collectedErrors.clear();
    if (readZipLocked(pos, zipSize, dst, memSize)) return true;
    std::string what = _collectedErrors.substr(18, _collectedErrors.find(" PtexFile:") - 18);
    _collectedErrors.clear();
    reportReadError(what.c_str());
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
    if (faceid < 0 || uint32_t(faceid) >= _header.nfaces) return _defaultFaceInfo;
    return _faces[faceid];
}

PtexMetaData* PtexReader::getMetaData()
{
    PtexMetaDataReader* meta = _metaData.load(std::memory_order_acquire);
    if (meta) return meta;
    std::unique_ptr<PtexMetaDataReader> built;
    try {
        built = std::make_unique<PtexMetaDataReader>(*this);
        built->load(_metaDataPos, _header.metadatazipsize, _header.metadatamemsize, _lmdHeaderPos,
                    _extHeader.lmdheaderzipsize, _extHeader.lmdheadermemsize, _lmdDataPos, _extHeader.lmddatasize);
        for (const MetaEdit& edit : _metaEdits) built->loadEdit(edit.pos, edit.zipSize, edit.memSize);
    } catch (const std::exception&) {
        reportReadError("out of memory");
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
    const LevelInfo& li = _levelInfo[level];
    std::unique_ptr<LevelTable> built(new LevelTable);
    built->headers.resize(li.nfaces);
    built->offsets.resize(li.nfaces);
    std::vector<uint8_t> headerBytes(size_t(4) * li.nfaces);
    _collectedErrors.clear();
    if (!readZipLocked(_levelPos[level], li.levelheadersize, headerBytes.data(), headerBytes.size())) {
        std::string what = _collectedErrors.substr(18, _collectedErrors.find(" PtexFile:") - 18);
        _collectedErrors.clear();
        reportReadError(what.c_str());
        return nullptr;
    }
    // Blocks follow the header table back to back and must all lie inside the level.
    uint64_t offset = li.levelheadersize;
    for (uint32_t i = 0; i < li.nfaces; ++i) {
        built->headers[i].data = getU32(&headerBytes[4 * size_t(i)]);
        built->offsets[i] = _levelPos[level] + offset;
        offset += built->headers[i].blocksize();
    }
    if (offset > li.leveldatasize) {
        reportReadError("face data run past the end of their level");
        return nullptr;
    }
    if (level == 0) {
        for (const auto& edit : _faceEdits) {
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

bool PtexReader::decodeImage(Encoding encoding, const uint8_t* zip, uint32_t zipSize, Res res, uint8_t* dst) const
{
    const DataType dt = DataType(_header.datatype);
    const size_t size = size_t(_pixelSize) << (res.ulog2 + res.vlog2);
    std::unique_ptr<uint8_t[]> planar = allocateBytes(size);
    if (!planar || !PtexZip::inflateExact(zip, zipSize, planar.get(), size)) return false;
    if (encoding == enc_diffzipped) PtexUtils::decodeDifference(planar.get(), int(size), dt);
    const int rowBytes = DataSize(dt) * res.u();
    PtexUtils::interleave(planar.get(), rowBytes, res.u(), res.v(), dst, _pixelSize * res.u(), dt, _header.nchannels);
    return true;
}

bool PtexReader::decodeBlockLocked(FaceBlock& block, FaceDataHeader header, uint64_t pos)
{
    const uint32_t blockSize = header.blocksize();
    const Res res = block.blockRes;
    switch (header.encoding()) {
    case enc_constant: {
        if (blockSize != uint32_t(_pixelSize)) {
            reportReadError("invalid constant block");
            return false;
        }
        std::unique_ptr<uint8_t[]> texel = allocateBytes(size_t(_pixelSize));
        if (!readAtLocked(pos, texel.get(), size_t(_pixelSize))) {
            reportReadError("read failed (EOF)");
            return false;
        }
        if (block.level0 && _premultiply) premultiplyTexels(texel.get(), 1);
        block.setKind(FaceBlock::kConstant);
        block.pixels = std::move(texel);
        block.bytes = sizeof(FaceBlock) + size_t(_pixelSize);
        return true;
    }
    case enc_zipped:
    case enc_diffzipped: {
        const size_t size = size_t(_pixelSize) << (res.ulog2 + res.vlog2);
        if (!plausibleInflate(size, blockSize)) {
            reportReadError("unzip failed, file corrupt");
            return false;
        }
        std::unique_ptr<uint8_t[]> zip = allocateBytes(blockSize);
        std::unique_ptr<uint8_t[]> texels = allocateBytes(size);
        if (!zip || !texels) {
            reportReadError("out of memory");
            return false;
        }
        if (!readAtLocked(pos, zip.get(), blockSize)) {
            reportReadError("read failed (EOF)");
            return false;
        }
        if (!decodeImage(header.encoding(), zip.get(), blockSize, res, texels.get())) {
            reportReadError("unzip failed, file corrupt");
            return false;
        }
        if (block.level0 && _premultiply) premultiplyTexels(texels.get(), res.size());
        block.setKind(FaceBlock::kPacked);
        block.pixels = std::move(texels);
        block.bytes = sizeof(FaceBlock) + size;
        return true;
    }
    case enc_tiled: {
        uint8_t prefix[kTiledBlockPrefixSize];
        if (blockSize < kTiledBlockPrefixSize || !readAtLocked(pos, prefix, kTiledBlockPrefixSize)) {
            reportReadError("read failed (EOF)");
            return false;
        }
        Res tileRes{int8_t(prefix[0]), int8_t(prefix[1])};
        const uint32_t tileHeaderSize = getU32(prefix + 2);
        if (tileRes.ulog2 < 0 || tileRes.vlog2 < 0 || tileRes.ulog2 > res.ulog2 || tileRes.vlog2 > res.vlog2 ||
            tileHeaderSize > blockSize - kTiledBlockPrefixSize) {
            reportReadError("invalid tiled block");
            return false;
        }
        // Every tile takes at least one byte of the block: bound the directory before allocating it.
        const uint64_t ntiles = uint64_t(1) << ((res.ulog2 - tileRes.ulog2) + (res.vlog2 - tileRes.vlog2));
        if (ntiles > blockSize - kTiledBlockPrefixSize - tileHeaderSize ||
            !plausibleInflate(4 * ntiles, tileHeaderSize)) {
            reportReadError("invalid tiled block");
            return false;
        }
        std::unique_ptr<TileTable> table(new TileTable);
        table->tileRes = tileRes;
        table->ntilesu = res.ntilesu(tileRes);
        table->ntiles = res.ntiles(tileRes);
        std::vector<uint8_t> headerBytes(size_t(4) * table->ntiles);
        _collectedErrors.clear();
        if (!readZipLocked(pos + kTiledBlockPrefixSize, tileHeaderSize, headerBytes.data(), headerBytes.size())) {
            std::string what = _collectedErrors.substr(18, _collectedErrors.find(" PtexFile:") - 18);
            _collectedErrors.clear();
            reportReadError(what.c_str());
            return false;
        }
        table->headers.resize(table->ntiles);
        table->offsets.resize(table->ntiles);
        uint64_t offset = kTiledBlockPrefixSize + uint64_t(tileHeaderSize);
        for (int t = 0; t < table->ntiles; ++t) {
            FaceDataHeader& th = table->headers[t];
            th.data = getU32(&headerBytes[4 * size_t(t)]);
            if (th.encoding() == enc_tiled ||
                (th.encoding() == enc_constant && th.blocksize() != uint32_t(_pixelSize))) {
                reportReadError("invalid tile header");
                return false;
            }
            table->offsets[t] = pos + offset;
            offset += th.blocksize();
        }
        if (offset != blockSize) {
            reportReadError("tile sizes do not add up to the face block");
            return false;
        }
        table->tiles = std::make_unique<std::atomic<FaceBlock*>[]>(size_t(table->ntiles));
        for (int t = 0; t < table->ntiles; ++t) table->tiles[t].store(nullptr, std::memory_order_relaxed);
        block.setKind(FaceBlock::kTiled);
        block.tileTable = std::move(table);
        block.bytes = sizeof(FaceBlock) + sizeof(TileTable) + size_t(block.tileTable->ntiles) * (4 + 8 + sizeof(void*));
        return true;
    }
    }
    return false;
}

void PtexReader::publishLocked(FaceBlock& block, Hold hold)
{
    // Tiled faces keep only their tile directory; it stays until the texture goes away.
    _memory.fetch_add(int64_t(block.bytes));
    if (_setup.residency) {
        _setup.residency->addMemory(int64_t(block.bytes));
        block.lastUse.store(_setup.residency->epoch(), std::memory_order_relaxed);
    }
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
            Res res = level == 0
                          ? _faces[faceid].res
                          : Res(int8_t(_storedRes[faceid].ulog2 - level), int8_t(_storedRes[faceid].vlog2 - level));
            std::unique_ptr<FaceBlock> created(new FaceBlock(this, res, _pixelSize, level == 0));
            block = created.get();
            table->owned.push_back(std::move(created));
            table->blocks[index].store(block, std::memory_order_release);
        }
        if (block->refs.load(std::memory_order_acquire) >= 0) {
            // Resident; eviction needs this lock, so a plain increment is safe here.
            if (hold == Hold::handle) block->refs.fetch_add(1, std::memory_order_acquire);
            return block;
        }
        if (!decodeBlockLocked(*block, table->headers[index], table->offsets[index])) return errorFace();
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
        std::unique_ptr<FaceBlock> computed = computeReducedTile(table, tile);
        if (!computed) return errorFace();
        return publishComputed(table.tiles[tile], table.owned, std::move(computed), hold);
    }
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (inErrorState()) return errorFace();
        block = table.tiles[tile].load(std::memory_order_relaxed);
        if (!block) {
            std::unique_ptr<FaceBlock> created(new FaceBlock(this, table.tileRes, _pixelSize, face.level0));
            block = created.get();
            table.owned.push_back(std::move(created));
            table.tiles[tile].store(block, std::memory_order_release);
        }
        if (block->refs.load(std::memory_order_acquire) >= 0) {
            if (hold == Hold::handle) block->refs.fetch_add(1, std::memory_order_acquire);
            return block;
        }
        if (!decodeBlockLocked(*block, table.headers[tile], table.offsets[tile])) return errorFace();
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

bool PtexReader::evictLocked(FaceBlock& block, ReadSections& sections)
{
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
    if (faceid < 0 || uint32_t(faceid) >= _header.nfaces || inErrorState()) return errorFace();
    const FaceInfo& face = _faces[faceid];
    if (face.isConstant() || (res.ulog2 == 0 && res.vlog2 == 0)) return &_constFaces[faceid];
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    try {
        if (redu == 0 && redv == 0) return acquireLevelFace(0, faceid, faceid, hold);
        if (redu == redv && !face.hasEdits() && redu > 0 && redu < _header.nlevels &&
            _rfaceids[faceid] < _levelInfo[redu].nfaces)
            return acquireLevelFace(redu, int(_rfaceids[faceid]), faceid, hold);
        return acquireReduction(faceid, res, hold);
    } catch (const std::exception&) {
        // Only the loading paths allocate; nothing may leave the Ptex interface as an exception.
        reportReadError("out of memory");
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
    const FaceInfo& face = _faces[faceid];
    if (res.ulog2 < 0 || res.vlog2 < 0)
        return reductionError(faceid, res, "PtexReader::getData - reductions below 1 pixel not supported");
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    if (redu < 0 || redv < 0) return reductionError(faceid, res, "PtexReader::getData - enlargements not supported");
    if (_header.meshtype == mt_triangle && redu != redv)
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
    std::unique_ptr<FaceBlock> computed = computeReduction(faceid, res);
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

std::unique_ptr<FaceBlock> PtexReader::computeReduction(int faceid, Res res)
{
    const FaceInfo& face = _faces[faceid];
    const int redu = face.res.ulog2 - res.ulog2;
    const int redv = face.res.vlog2 - res.vlog2;
    const bool triangle = _header.meshtype == mt_triangle;
    bool reduceInU = false;
    Res srcRes;
    if (triangle) {
        srcRes = Res(int8_t(res.ulog2 + 1), int8_t(res.vlog2 + 1));
    } else {
        reduceInU = redu == redv ? (res.ulog2 & 1) != 0 : redu > redv;
        srcRes = reduceInU ? Res(int8_t(res.ulog2 + 1), res.vlog2) : Res(res.ulog2, int8_t(res.vlog2 + 1));
    }
    PtexFaceData* src = getData(faceid, srcRes);
    if (src == errorFace()) return nullptr;
    PtexPtr<PtexFaceData> releaseSource(src);

    const DataType dt = DataType(_header.datatype);
    const int nchan = _header.nchannels;
    const size_t P = size_t(_pixelSize);
    std::unique_ptr<FaceBlock> result(new FaceBlock(this, res, _pixelSize, false));
    auto makeConstant = [&](const void* value) {
        result->kind = FaceBlock::kConstant;
        result->pixels = allocateBytes(P);
        memcpy(result->pixels.get(), value, P);
        result->bytes = sizeof(FaceBlock) + P;
        return std::move(result);
    };
    if (src->isConstant()) return makeConstant(src->getData());

    const int dstu = res.u(), dstv = res.v();
    const size_t size = P * size_t(dstu) * size_t(dstv);
    std::unique_ptr<uint8_t[]> texels = allocateBytes(size);
    if (!texels) return nullptr;
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
            std::unique_ptr<TileTable> table(new TileTable);
            table->tileRes = newTile;
            table->ntilesu = res.ntilesu(newTile);
            table->ntiles = res.ntiles(newTile);
            table->tiles = std::make_unique<std::atomic<FaceBlock*>[]>(size_t(table->ntiles));
            for (int t = 0; t < table->ntiles; ++t) table->tiles[t].store(nullptr, std::memory_order_relaxed);
            table->computed = true;
            table->faceid = faceid;
            table->sourceRes = srcRes;
            table->reduceInU = reduceInU;
            result->kind = FaceBlock::kTiled;
            result->bytes = sizeof(FaceBlock) + sizeof(TileTable) + size_t(table->ntiles) * sizeof(void*);
            result->tileTable = std::move(table);
            return result;
        }
    }
    if (!src->isTiled()) {
        reduceRect(src->getData(), int(P) * srcu, srcu, srcv, texels.get());
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
            if (!tile || tile == errorFace()) return nullptr;
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
                uint8_t* d = texels.get() + (size_t(tv) * outv * dstu + size_t(tu) * outu) * P;
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
        if (!perTile) reduceRect(assembled.get(), int(P) * srcu, srcu, srcv, texels.get());
    }
    result->kind = FaceBlock::kPacked;
    result->pixels = std::move(texels);
    result->bytes = sizeof(FaceBlock) + size;
    return result;
}

std::unique_ptr<FaceBlock> PtexReader::computeReducedTile(const TileTable& table, int tile)
{
    PtexFaceData* src = getData(table.faceid, table.sourceRes);
    if (src == errorFace() || !src->isTiled()) {
        if (src != errorFace()) src->release();
        return nullptr;
    }
    PtexPtr<PtexFaceData> releaseSource(src);

    const DataType dt = DataType(_header.datatype);
    const int nchan = _header.nchannels;
    const size_t P = size_t(_pixelSize);
    const Res srcTile = src->tileRes();
    const int srcNtilesu = table.sourceRes.ntilesu(srcTile);
    const int ratioU = srcNtilesu / table.ntilesu;
    const int ratioV = table.sourceRes.ntilesv(srcTile) / (table.ntiles / table.ntilesu);
    const int tileu = table.tileRes.u(), tilev = table.tileRes.v();
    const int partu = tileu / ratioU, partv = tilev / ratioV;  // the part each source tile fills
    const int tu = tile % table.ntilesu, tv = tile / table.ntilesu;
    const int dstStride = int(P) * tileu;

    std::unique_ptr<uint8_t[]> texels = allocateBytes(P * size_t(tileu) * size_t(tilev));
    if (!texels) return nullptr;
    bool allConstant = true, sameValue = true;
    std::vector<uint8_t> firstValue;
    for (int j = 0; j < ratioV; ++j) {
        for (int i = 0; i < ratioU; ++i) {
            PtexFaceData* part = src->getTile((tv * ratioV + j) * srcNtilesu + tu * ratioU + i);
            if (!part || part == errorFace()) return nullptr;
            const void* partData = part->getData();
            uint8_t* d = texels.get() + (size_t(j) * partv * tileu + size_t(i) * partu) * P;
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
    std::unique_ptr<FaceBlock> result(new FaceBlock(this, table.tileRes, _pixelSize, false));
    if (allConstant && sameValue) {
        result->kind = FaceBlock::kConstant;
        result->pixels = allocateBytes(P);
        memcpy(result->pixels.get(), firstValue.data(), P);
        result->bytes = sizeof(FaceBlock) + P;
    } else {
        result->kind = FaceBlock::kPacked;
        result->pixels = std::move(texels);
        result->bytes = sizeof(FaceBlock) + P * size_t(tileu) * size_t(tilev);
    }
    return result;
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
            block = new FaceBlock(this, computed->blockRes, _pixelSize, false);
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
    if ((uint64_t(_pixelSize) << res.ulog2) > kMaxImageBytes) return;
    const int P = _pixelSize;
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
    const int n = std::min(nchannels, int(_header.nchannels) - firstchan);
    if (n <= 0) return;
    if (res.ulog2 < 0 || res.vlog2 < 0 || res.ulog2 > kMaxLog2 || res.vlog2 > kMaxLog2) return;
    if (u < 0 || v < 0 || u >= res.u() || v >= res.v()) return;
    if (uint32_t(faceid) < _header.nfaces && res == _faces[faceid].res && !_faces[faceid].isConstant() &&
        readResidentTexel(faceid, u, v, result, firstchan, n, hold))
        return;
    PtexFaceData* data = getData(faceid, res, hold);
    const DataType dt = DataType(_header.datatype);
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
            if (!tile->isConstant()) texel += (size_t(tv) * tileRes.u() + tu) * _pixelSize;
        }
    } else if (data->res() == res) {
        texel = static_cast<const uint8_t*>(data->getData()) + (size_t(v) * res.u() + u) * _pixelSize;
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
            texel += (size_t(tv) * size_t(tileRes.u()) + size_t(tu)) * size_t(_pixelSize);
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
            texel += (size_t(v) * size_t(block->blockRes.u()) + size_t(u)) * size_t(_pixelSize);
        }
    }
    const DataType dt = DataType(_header.datatype);
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
        reader->reportReadError("out of memory");
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
