// The full-file writer. A face's level-0 block and its whole chain of reductions are encoded
// when the face is written and go to the spool; close makes the constant values, the
// neighbourhood flags and the section headers, and copies the spooled blocks in file order.
// Reductions are made from premultiplied texels, each level from the stored (rounded) level
// above it, which is what fixes their bytes.

#include "PtexWriterMain.h"

#include "PtexUtils.h"
#include "PtexWriterFlags.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

PTEX_NAMESPACE_BEGIN

using namespace PtexWriterEncoding;

namespace {

constexpr uint32_t kMagic = 0x78657450;  // "Ptex"
constexpr uint32_t kExtHeaderSize = 40;
constexpr size_t kLargeMetaThreshold = 1024;  // entries above this many bytes are stored apart

// Faces are ordered for reduction levels by their smaller side; constant faces count as 2 texels.
int reductionKey(const FaceInfo& info)
{
    return info.isConstant() ? 1 : PtexUtils::min(int(info.res.ulog2), int(info.res.vlog2));
}

class FileOut {
public:
    explicit FileOut(const std::string& path) : _file(std::fopen(path.c_str(), "wb")) {}
    ~FileOut()
    {
        if (_file) std::fclose(_file);
    }
    bool isOpen() const { return _file != nullptr; }
    void write(const void* data, size_t size)
    {
        if (_ok && size && std::fwrite(data, 1, size, _file) != size) _ok = false;
    }
    void write(const Bytes& bytes) { write(bytes.data(), bytes.size()); }
    bool ok() const { return _ok; }
    bool finish()
    {
        const bool closed = std::fclose(_file) == 0;
        _file = nullptr;
        return _ok && closed;
    }

private:
    std::FILE* _file;
    bool _ok = true;
};

}  // namespace

PtexMainWriter::PtexMainWriter(const char* path, MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces,
                               bool genmipmaps)
    : PtexWriterBase(path, mt, dt, nchannels, alphachan, nfaces),
      _genmipmaps(genmipmaps),
      _infos(size_t(nfaces)),
      _constData(size_t(nfaces) * size_t(_pixelSize), 0),
      _faces(size_t(nfaces)),
      _spool(_path),
      _encoder(dt, nchannels, kFullCompression)
{}

PtexMainWriter::~PtexMainWriter() = default;

void PtexMainWriter::setExistingFile(std::unique_ptr<FaceSource> source, BorderMode uBorderMode, BorderMode vBorderMode,
                                     EdgeFilterMode edgeFilterMode, bool hasEdits)
{
    _source = std::move(source);
    _isRewrite = true;
    _uBorderMode = uBorderMode;
    _vBorderMode = vBorderMode;
    _edgeFilterMode = edgeFilterMode;
    _modesChanged = false;
    _metaChanged = false;
    _hasNewData = hasEdits;
}

bool PtexMainWriter::writeFace(int faceid, const FaceInfo& info, const void* data, int stride)
{
    if (_closed || hasError()) return false;
    try {
        return addFace(faceid, info, data, stride);
    } catch (const std::exception&) {
        setError("PtexWriter error: out of memory");
        return false;
    }
}

bool PtexMainWriter::writeConstantFace(int faceid, const FaceInfo& info, const void* data)
{
    if (_closed || hasError()) return false;
    return addConstantFace(faceid, info, data);
}

bool PtexMainWriter::spoolBlock(const Block& block, uint64_t& offset)
{
    if (_spool.append(block.data.data(), block.data.size(), offset)) return true;
    setError("PtexWriter error: file write failed");
    return false;
}

bool PtexMainWriter::addFace(int faceid, const FaceInfo& info, const void* data, int stride)
{
    FaceInfo stored;
    if (!prepareFaceInfo(faceid, info, data, stored)) return false;
    const Res res = stored.res;
    const int ures = res.u(), vres = res.v();
    const int rowBytes = ures * _pixelSize;
    if (stride == 0) stride = rowBytes;
    if (PtexUtils::isConstant(data, stride, ures, vres, _pixelSize)) return addConstantFace(faceid, info, data);

    const EncodeResult encoded = _encoder.encode(data, stride, res, _block);
    if (encoded != EncodeResult::encoded) {
        setError(encodeFailureMessage(encoded));
        return false;
    }
    FaceRecord& face = _faces[size_t(faceid)];
    if (!spoolBlock(_block, face.level0Offset)) return false;
    face.level0Header = _block.header;
    face.numReductions = 0;
    face.written = true;
    _infos[size_t(faceid)] = stored;

    // Reductions and averages are computed on premultiplied texels; level 0 stays as given.
    const uint8_t* packed = static_cast<const uint8_t*>(data);
    if (hasAlpha() || stride != rowBytes) {
        _texels.resize(size_t(rowBytes) * size_t(vres));
        PtexUtils::copy(data, stride, _texels.data(), rowBytes, vres, rowBytes);
        if (hasAlpha()) PtexUtils::multalpha(_texels.data(), ures * vres, _dataType, _nchannels, _alphachan);
        packed = _texels.data();
    }
    if (_genmipmaps && res.ulog2 > 2 && res.vlog2 > 2) {
        if (!spoolReductions(faceid, stored, packed)) return false;
    } else {
        computeConstantValue(faceid, packed, res);
    }
    _hasNewData = true;
    return true;
}

// Levels 1 .. key - 2 of the face, where the key is its smaller side's log2: each level is
// reduced from the one above and stored; the representative value comes from the smallest.
bool PtexMainWriter::spoolReductions(int faceid, const FaceInfo& info, const uint8_t* packed)
{
    FaceRecord& face = _faces[size_t(faceid)];
    const int key = reductionKey(info);
    Res res = info.res;
    const uint8_t* current = packed;
    face.firstReductionHeader = uint32_t(_reductionHeaders.size());
    for (int level = 1; level <= key - 2; ++level) {
        const int rowBytes = res.u() * _pixelSize;
        _nextReduced.resize(size_t(rowBytes) * size_t(res.v()) / 4);
        if (_meshType == mt_triangle)
            PtexUtils::reduceTri(current, rowBytes, res.u(), res.v(), _nextReduced.data(), rowBytes / 2, _dataType,
                                 _nchannels);
        else
            PtexUtils::reduce(current, rowBytes, res.u(), res.v(), _nextReduced.data(), rowBytes / 2, _dataType,
                              _nchannels);
        _reduced.swap(_nextReduced);
        current = _reduced.data();
        res = Res(int8_t(res.ulog2 - 1), int8_t(res.vlog2 - 1));
        const EncodeResult encoded = _encoder.encode(current, res.u() * _pixelSize, res, _block);
        if (encoded != EncodeResult::encoded) {
            setError(encodeFailureMessage(encoded));
            return false;
        }
        uint64_t offset = 0;
        if (!spoolBlock(_block, offset)) return false;
        if (level == 1) face.reductionOffset = offset;
        _reductionHeaders.push_back(_block.header);
    }
    face.numReductions = uint8_t(key - 2);
    computeConstantValue(faceid, current, res);
    return true;
}

bool PtexMainWriter::addConstantFace(int faceid, const FaceInfo& info, const void* data)
{
    FaceInfo stored;
    if (!prepareFaceInfo(faceid, info, data, stored)) return false;
    stored.flags |= FaceInfo::flag_constant;
    FaceRecord& face = _faces[size_t(faceid)];
    // A level-0 block from an earlier non-constant write of this face is kept as it was: readers
    // ignore it because the face is flagged constant, and files stay byte-identical with other
    // writers that keep it.
    face.written = true;
    face.numReductions = 0;
    _infos[size_t(faceid)] = stored;
    std::memcpy(&_constData[size_t(faceid) * size_t(_pixelSize)], data, size_t(_pixelSize));
    _hasNewData = true;
    return true;
}

// Average of premultiplied texels, divided back so that the stored value is un-premultiplied.
void PtexMainWriter::computeConstantValue(int faceid, const void* packed, Res res)
{
    uint8_t* value = &_constData[size_t(faceid) * size_t(_pixelSize)];
    PtexUtils::average(packed, res.u() * _pixelSize, res.u(), res.v(), value, _dataType, _nchannels);
    if (hasAlpha()) PtexUtils::divalpha(value, 1, _dataType, _nchannels, _alphachan);
}

bool PtexMainWriter::fillUnwrittenFaces()
{
    for (int f = 0; f < _nfaces; ++f) {
        if (_faces[size_t(f)].written) continue;
        if (_source) {
            if (!_source->copyFace(f, *this)) return false;
            continue;
        }
        // A face never written is black (alpha 0 too), 1x1, with no neighbours.
        FaceInfo& info = _infos[size_t(f)];
        info = FaceInfo();
        info.flags = FaceInfo::flag_constant;
        std::memset(&_constData[size_t(f) * size_t(_pixelSize)], 0, size_t(_pixelSize));
    }
    return !hasError();
}

// Level 0 holds every face in face id order (header word 0 for a face without a block);
// level L the faces with at least L reductions, in reduction order.
void PtexMainWriter::buildLevels(std::vector<Level>& levels, std::vector<uint32_t>& reductionOrder) const
{
    {
        std::vector<uint32_t> rfaceids(static_cast<size_t>(_nfaces));
        reductionOrder.resize(static_cast<size_t>(_nfaces));
        PtexUtils::genRfaceids(_infos.data(), _nfaces, rfaceids.data(), reductionOrder.data());
    }
    Level& level0 = levels[0];
    level0.headers.reserve(size_t(_nfaces));
    for (const FaceRecord& face : _faces) {
        level0.headers.push_back(face.level0Header);
        level0.dataSize += blockSizeOf(face.level0Header);
    }
    for (uint32_t f : reductionOrder) {
        const FaceRecord& face = _faces[f];
        if (_infos[f].isConstant()) continue;
        for (int level = 1; level <= face.numReductions; ++level) {
            const uint32_t header = _reductionHeaders[face.firstReductionHeader + uint32_t(level - 1)];
            levels[size_t(level)].headers.push_back(header);
            levels[size_t(level)].dataSize += blockSizeOf(header);
        }
    }
}

bool PtexMainWriter::close(String& error)
{
    if (_closed) {
        error = "PtexWriter error: writer already closed";
        return false;
    }
    _closed = true;
    const bool mustWrite = !_isRewrite || _hasNewData || _modesChanged || _metaChanged;
    const std::string tmpPath = _path + ".new";
    bool wroteTmp = false;
    if (!hasError() && mustWrite) {
        try {
            if (fillUnwrittenFaces()) {
                int maxKey = 0;
                for (const FaceInfo& info : _infos)
                    if (!info.isConstant()) maxKey = PtexUtils::max(maxKey, reductionKey(info));
                const int nlevels = _genmipmaps ? 1 + PtexUtils::max(0, maxKey - 2) : 1;
                std::vector<Level> levels(static_cast<size_t>(nlevels));
                std::vector<uint32_t> reductionOrder;
                buildLevels(levels, reductionOrder);
                PtexWriterFlags::setNeighborhoodConstant(_infos, _constData, _pixelSize, _meshType, _uBorderMode,
                                                         _vBorderMode);
                wroteTmp = writeFile(tmpPath, levels, reductionOrder);
            }
        } catch (const std::exception&) {
            setError("PtexWriter error: out of memory");
            // The temporary file may be partly written; it is ours to remove.
            std::remove(tmpPath.c_str());
            wroteTmp = false;
        }
    }
    _source.reset();
    _faces.clear();
    _faces.shrink_to_fit();
    _reductionHeaders = {};
    _spool.discard();
    if (hasError()) {
        error = closeError();
        return false;
    }
    if (wroteTmp && std::rename(tmpPath.c_str(), _path.c_str()) != 0) {
        error = "Can't write to ptex file: " + _path + "\n" + std::strerror(errno);
        std::remove(tmpPath.c_str());
        return false;
    }
    return true;
}

bool PtexMainWriter::writeFile(const std::string& tmpPath, std::vector<Level>& levels,
                               const std::vector<uint32_t>& reductionOrder)
{
    const int nlevels = int(levels.size());

    // Face info and constant data blocks.
    Deflater deflater(kFullCompression);
    Bytes faceInfoZip, constZip;
    {
        Bytes faceInfoRaw;
        faceInfoRaw.reserve(size_t(_nfaces) * 20);
        for (const FaceInfo& info : _infos) putFaceInfo(faceInfoRaw, info);
        if (!deflater.compress(faceInfoRaw.data(), faceInfoRaw.size(), faceInfoZip) ||
            !deflater.compress(_constData.data(), _constData.size(), constZip)) {
            setError("PtexWriter error: data compression internal error");
            return false;
        }
    }

    uint64_t levelDataSize = 0;
    for (Level& level : levels) {
        Bytes raw;
        raw.reserve(level.headers.size() * 4);
        for (uint32_t header : level.headers) putU32(raw, header);
        if (!deflater.compress(raw.data(), raw.size(), level.zippedHeaders)) {
            setError("PtexWriter error: data compression internal error");
            return false;
        }
        level.dataSize += level.zippedHeaders.size();
        levelDataSize += level.dataSize;
    }
    // Meta data: small entries in one block, large ones each in a block of their own.
    std::vector<const PtexWriterMetaEntry*> small, large;
    for (const PtexWriterMetaEntry& entry : _meta)
        (entry.data.size() > kLargeMetaThreshold ? large : small).push_back(&entry);
    Bytes metaRaw, metaZip;
    appendMetaRecords(metaRaw, small);
    Bytes lmdHeaderRaw, lmdHeaderZip;
    std::vector<Bytes> lmdBlocks;
    uint64_t lmdDataSize = 0;
    bool zipped = small.empty() || deflater.compress(metaRaw.data(), metaRaw.size(), metaZip);
    for (const PtexWriterMetaEntry* entry : large) {
        Bytes block;
        zipped = zipped && deflater.compress(entry->data.data(), entry->data.size(), block);
        putU8(lmdHeaderRaw, uint8_t(entry->key.size() + 1));
        putBytes(lmdHeaderRaw, entry->key.c_str(), entry->key.size() + 1);
        putU8(lmdHeaderRaw, uint8_t(entry->type));
        putU32(lmdHeaderRaw, uint32_t(entry->data.size()));
        putU32(lmdHeaderRaw, uint32_t(block.size()));
        lmdDataSize += block.size();
        lmdBlocks.push_back(std::move(block));
    }
    if (!large.empty()) zipped = zipped && deflater.compress(lmdHeaderRaw.data(), lmdHeaderRaw.size(), lmdHeaderZip);
    if (!zipped) {
        setError("PtexWriter error: data compression internal error");
        return false;
    }

    // The barrier is always present, so edits appended later are found by every reader.
    const uint64_t barrierSize = 8;
    const uint64_t fileSize = 64 + kExtHeaderSize + faceInfoZip.size() + constZip.size() + 16 * uint64_t(nlevels) +
                              levelDataSize + metaZip.size() + barrierSize + lmdHeaderZip.size() + lmdDataSize;

    Bytes header;
    putU32(header, kMagic);
    putU32(header, 1);  // major file version
    putU32(header, uint32_t(_meshType));
    putU32(header, uint32_t(_dataType));
    putI32(header, _alphachan);
    putU16(header, uint16_t(_nchannels));
    putU16(header, uint16_t(nlevels));
    putU32(header, uint32_t(_nfaces));
    putU32(header, kExtHeaderSize);
    putU32(header, uint32_t(faceInfoZip.size()));
    putU32(header, uint32_t(constZip.size()));
    putU32(header, uint32_t(16 * nlevels));
    putU32(header, 4);  // minor file version
    putU64(header, levelDataSize);
    putU32(header, uint32_t(metaZip.size()));
    putU32(header, small.empty() ? 0 : uint32_t(metaRaw.size()));
    putU16(header, uint16_t(_uBorderMode));
    putU16(header, 0);
    putU16(header, uint16_t(_vBorderMode));
    putU16(header, uint16_t(_edgeFilterMode));
    putU32(header, uint32_t(lmdHeaderZip.size()));
    putU32(header, large.empty() ? 0 : uint32_t(lmdHeaderRaw.size()));
    putU64(header, lmdDataSize);
    putU64(header, 0);         // edit data size
    putU64(header, fileSize);  // edit data position: the end of a freshly written file
    putBytes(header, faceInfoZip.data(), faceInfoZip.size());
    putBytes(header, constZip.data(), constZip.size());
    for (const Level& level : levels) {
        putU64(header, level.dataSize);
        putU32(header, uint32_t(level.zippedHeaders.size()));
        putU32(header, uint32_t(level.headers.size()));
    }

    FileOut out(tmpPath);
    if (!out.isOpen()) {
        setError("Can't write to ptex file: " + tmpPath + "\n" + std::strerror(errno));
        return false;
    }
    out.write(header);
    // Spooled blocks in file order; a block that cannot be read back fails the write.
    bool spoolOk = true;
    auto copyBlock = [&](uint64_t offset, uint32_t word) {
        const size_t size = blockSizeOf(word);
        if (size == 0 || !spoolOk) return;
        const uint8_t* bytes = _spool.read(offset, size);
        if (!bytes) {
            spoolOk = false;
            return;
        }
        out.write(bytes, size);
    };
    out.write(levels[0].zippedHeaders);
    for (const FaceRecord& face : _faces) copyBlock(face.level0Offset, face.level0Header);
    for (size_t l = 1; l < levels.size(); ++l) {
        out.write(levels[l].zippedHeaders);
        for (uint32_t f : reductionOrder) {
            const FaceRecord& face = _faces[f];
            if (_infos[f].isConstant() || face.numReductions < l) continue;
            uint64_t offset = face.reductionOffset;
            for (size_t below = 1; below < l; ++below)
                offset += blockSizeOf(_reductionHeaders[face.firstReductionHeader + uint32_t(below - 1)]);
            copyBlock(offset, _reductionHeaders[face.firstReductionHeader + uint32_t(l - 1)]);
        }
    }
    out.write(metaZip);
    const uint8_t barrier[8] = {};
    out.write(barrier, sizeof(barrier));
    out.write(lmdHeaderZip);
    for (const Bytes& block : lmdBlocks) out.write(block);
    if (!out.finish() || !spoolOk) {
        // Never leave a partial file behind.
        std::remove(tmpPath.c_str());
        setError("PtexWriter error: file write failed");
        return false;
    }
    return true;
}

PTEX_NAMESPACE_END
