// The full-file writer. Level 0 blocks are encoded when a face is written; the first reduction
// of each face is kept (premultiplied) until close, where the remaining reductions, the
// constant values, the neighbourhood flags and the sections are produced in file order.

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
      _faces(size_t(nfaces))
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

bool PtexMainWriter::addFace(int faceid, const FaceInfo& info, const void* data, int stride)
{
    FaceInfo stored;
    if (!prepareFaceInfo(faceid, info, data, stored)) return false;
    const Res res = stored.res;
    const int ures = res.u(), vres = res.v();
    const int rowBytes = ures * _pixelSize;
    if (stride == 0) stride = rowBytes;
    if (PtexUtils::isConstant(data, stride, ures, vres, _pixelSize)) return addConstantFace(faceid, info, data);

    FaceState& face = _faces[size_t(faceid)];
    Block level0;
    const EncodeResult encoded = encodeImage(data, stride, res, _dataType, _nchannels, kFullCompression, level0);
    if (encoded != EncodeResult::encoded) {
        setError(encodeFailureMessage(encoded));
        return false;
    }
    face.level0 = std::move(level0);
    face.hasLevel0 = true;
    face.written = true;
    face.reduction.clear();
    _infos[size_t(faceid)] = stored;

    // Reductions and averages are computed on premultiplied texels; level 0 stays as given.
    std::vector<uint8_t> texels(size_t(rowBytes) * size_t(vres));
    PtexUtils::copy(data, stride, texels.data(), rowBytes, vres, rowBytes);
    if (hasAlpha()) PtexUtils::multalpha(texels.data(), ures * vres, _dataType, _nchannels, _alphachan);

    if (_genmipmaps && res.ulog2 > 2 && res.vlog2 > 2) {
        face.reduction.resize(texels.size() / 4);
        const int reducedRow = rowBytes / 2;
        if (_meshType == mt_triangle)
            PtexUtils::reduceTri(texels.data(), rowBytes, ures, vres, face.reduction.data(), reducedRow, _dataType,
                                 _nchannels);
        else
            PtexUtils::reduce(texels.data(), rowBytes, ures, vres, face.reduction.data(), reducedRow, _dataType,
                              _nchannels);
    } else {
        computeConstantValue(faceid, texels.data(), res);
    }
    _hasNewData = true;
    return true;
}

bool PtexMainWriter::addConstantFace(int faceid, const FaceInfo& info, const void* data)
{
    FaceInfo stored;
    if (!prepareFaceInfo(faceid, info, data, stored)) return false;
    stored.flags |= FaceInfo::flag_constant;
    FaceState& face = _faces[size_t(faceid)];
    // A level-0 block from an earlier non-constant write of this face is kept as it was: readers
    // ignore it because the face is flagged constant, and files stay byte-identical with other
    // writers that keep it.
    face.written = true;
    face.reduction.clear();
    face.reduction.shrink_to_fit();
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

bool PtexMainWriter::buildReductions(std::vector<Level>& levels)
{
    std::vector<uint32_t> rfaceids(static_cast<size_t>(_nfaces)), faceids(static_cast<size_t>(_nfaces));
    PtexUtils::genRfaceids(_infos.data(), _nfaces, rfaceids.data(), faceids.data());
    // Faces in reduction order: level L holds every face whose key is at least L + 2, so
    // appending each face's reductions in this order lays every level out correctly.
    for (int r = 0; r < _nfaces; ++r) {
        const int f = int(faceids[size_t(r)]);
        const FaceInfo& info = _infos[size_t(f)];
        FaceState& face = _faces[size_t(f)];
        const int key = reductionKey(info);
        if (info.isConstant() || key < 3 || face.reduction.empty()) continue;
        Res res(int8_t(info.res.ulog2 - 1), int8_t(info.res.vlog2 - 1));
        std::vector<uint8_t> current = std::move(face.reduction);
        face.reduction = {};
        for (int level = 1; level <= key - 2; ++level) {
            Block block;
            const EncodeResult encoded =
                encodeImage(current.data(), res.u() * _pixelSize, res, _dataType, _nchannels, kFullCompression, block);
            if (encoded != EncodeResult::encoded) {
                setError(encodeFailureMessage(encoded));
                return false;
            }
            Level& out = levels[size_t(level)];
            out.headers.push_back(block.header);
            out.dataSize += block.data.size();
            out.blocks.push_back(std::move(block.data));
            if (level == key - 2) break;
            // The next level is reduced from this stored (already rounded) level.
            std::vector<uint8_t> next(current.size() / 4);
            const int rowBytes = res.u() * _pixelSize;
            if (_meshType == mt_triangle)
                PtexUtils::reduceTri(current.data(), rowBytes, res.u(), res.v(), next.data(), rowBytes / 2, _dataType,
                                     _nchannels);
            else
                PtexUtils::reduce(current.data(), rowBytes, res.u(), res.v(), next.data(), rowBytes / 2, _dataType,
                                  _nchannels);
            current.swap(next);
            res = Res(int8_t(res.ulog2 - 1), int8_t(res.vlog2 - 1));
        }
        // The representative value comes from the smallest stored reduction.
        computeConstantValue(f, current.data(), res);
    }
    return true;
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
                if (buildReductions(levels)) {
                    PtexWriterFlags::setNeighborhoodConstant(_infos, _constData, _pixelSize, _meshType, _uBorderMode,
                                                             _vBorderMode);
                    wroteTmp = writeFile(tmpPath, levels);
                }
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

bool PtexMainWriter::writeFile(const std::string& tmpPath, std::vector<Level>& levels)
{
    const int nlevels = int(levels.size());

    // Face info and constant data blocks.
    Bytes faceInfoRaw;
    faceInfoRaw.reserve(size_t(_nfaces) * 20);
    for (const FaceInfo& info : _infos) putFaceInfo(faceInfoRaw, info);
    Bytes faceInfoZip, constZip;
    if (!deflateBlock(faceInfoRaw.data(), faceInfoRaw.size(), kFullCompression, faceInfoZip) ||
        !deflateBlock(_constData.data(), _constData.size(), kFullCompression, constZip)) {
        setError("PtexWriter error: data compression internal error");
        return false;
    }

    // Level 0 holds every face in face id order; constant faces have header word 0 unless an
    // earlier non-constant write left its block.
    Level& level0 = levels[0];
    for (const FaceState& face : _faces) {
        const uint32_t header = face.hasLevel0 ? face.level0.header : 0;
        level0.headers.push_back(header);
        if (face.hasLevel0) level0.dataSize += face.level0.data.size();
    }
    uint64_t levelDataSize = 0;
    for (Level& level : levels) {
        Bytes raw;
        for (uint32_t header : level.headers) putU32(raw, header);
        if (!deflateBlock(raw.data(), raw.size(), kFullCompression, level.zippedHeaders)) {
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
    bool zipped = small.empty() || deflateBlock(metaRaw.data(), metaRaw.size(), kFullCompression, metaZip);
    for (const PtexWriterMetaEntry* entry : large) {
        Bytes block;
        zipped = zipped && deflateBlock(entry->data.data(), entry->data.size(), kFullCompression, block);
        putU8(lmdHeaderRaw, uint8_t(entry->key.size() + 1));
        putBytes(lmdHeaderRaw, entry->key.c_str(), entry->key.size() + 1);
        putU8(lmdHeaderRaw, uint8_t(entry->type));
        putU32(lmdHeaderRaw, uint32_t(entry->data.size()));
        putU32(lmdHeaderRaw, uint32_t(block.size()));
        lmdDataSize += block.size();
        lmdBlocks.push_back(std::move(block));
    }
    if (!large.empty())
        zipped = zipped && deflateBlock(lmdHeaderRaw.data(), lmdHeaderRaw.size(), kFullCompression, lmdHeaderZip);
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
    for (size_t l = 0; l < levels.size(); ++l) {
        out.write(levels[l].zippedHeaders);
        if (l == 0) {
            for (const FaceState& face : _faces)
                if (face.hasLevel0) out.write(face.level0.data);
        } else {
            for (const Bytes& block : levels[l].blocks) out.write(block);
        }
    }
    out.write(metaZip);
    const uint8_t barrier[8] = {};
    out.write(barrier, sizeof(barrier));
    out.write(lmdHeaderZip);
    for (const Bytes& block : lmdBlocks) out.write(block);
    if (!out.finish()) {
        // Never leave a partial file behind.
        std::remove(tmpPath.c_str());
        setError("PtexWriter error: file write failed");
        return false;
    }
    return true;
}

PTEX_NAMESPACE_END
