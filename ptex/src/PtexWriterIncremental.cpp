// The incremental writer: each face write appends one edit record (stored, uncompressed zlib
// streams keep saving fast); meta data go into one record at close, followed by the update of
// the edit data size and the modes in the extended header.

#include "PtexWriterIncremental.h"

#include "PtexUtils.h"

#include <cstring>
#include <vector>

PTEX_NAMESPACE_BEGIN

using namespace PtexWriterEncoding;

namespace {

constexpr uint32_t kMagic = 0x78657450;  // "Ptex"
constexpr uint8_t kEditFaceData = 0;
constexpr uint8_t kEditMetaData = 1;

uint32_t readU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t readU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint64_t readU64(const uint8_t* p) { return uint64_t(readU32(p)) | uint64_t(readU32(p + 4)) << 32; }

void writeU16At(uint8_t* p, uint16_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

void writeU64At(uint8_t* p, uint64_t value)
{
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(value >> (8 * i));
}

}  // namespace

PtexIncrWriter::PtexIncrWriter(const char* path, std::FILE* file, MeshType mt, DataType dt, int nchannels,
                               int alphachan, int nfaces)
    : PtexWriterBase(path, mt, dt, nchannels, alphachan, nfaces), _file(file), _encoder(dt, nchannels, kEditCompression)
{}

PtexIncrWriter::~PtexIncrWriter()
{
    if (_file) std::fclose(_file);
}

PtexIncrWriter* PtexIncrWriter::create(const char* path, std::FILE* file, MeshType mt, DataType dt, int nchannels,
                                       int alphachan, int nfaces, String& error)
{
    std::unique_ptr<PtexIncrWriter> writer(new PtexIncrWriter(path, file, mt, dt, nchannels, alphachan, nfaces));
    const std::string suffix = std::string("\nPtex file: ") + path;
    uint8_t header[64];
    if (std::fread(header, 1, sizeof(header), file) != sizeof(header) || readU32(header) != kMagic) {
        error = std::string("Not a ptex file: ") + path + suffix;
        return nullptr;
    }
    const int32_t fileAlpha = int32_t(readU32(header + 16));
    if (readU32(header + 8) != uint32_t(mt) || readU32(header + 12) != uint32_t(dt) ||
        readU16(header + 20) != nchannels || fileAlpha != alphachan || readU32(header + 24) != uint32_t(nfaces)) {
        error =
            "PtexWriter::edit error: header doesn't match existing file, conversions not currently supported" + suffix;
        return nullptr;
    }
    writer->_extHeaderSize = readU32(header + 28);
    const size_t extBytes = writer->_extHeaderSize < 40 ? writer->_extHeaderSize : 40;
    if (std::fread(writer->_extHeader, 1, extBytes, file) != extBytes) {
        error = std::string("Error reading extended header: ") + path + suffix;
        return nullptr;
    }
    // The current modes are the starting values, so close writes them back unchanged unless set.
    writer->_uBorderMode = BorderMode(readU16(writer->_extHeader + 0));
    writer->_vBorderMode = BorderMode(readU16(writer->_extHeader + 4));
    writer->_edgeFilterMode = EdgeFilterMode(readU16(writer->_extHeader + 6));
    writer->_editDataPos = readU64(writer->_extHeader + 32);
    return writer.release();
}

bool PtexIncrWriter::appendRecord(const Bytes& record)
{
    if (std::fseek(_file, 0, SEEK_END) != 0 || std::fwrite(record.data(), 1, record.size(), _file) != record.size()) {
        setError("PtexWriter error: file write failed");
        return false;
    }
    return true;
}

bool PtexIncrWriter::writeFace(int faceid, const FaceInfo& info, const void* data, int stride)
{
    // Once an error is recorded nothing more is appended, and callers learn it at once.
    if (_closed || hasError()) return false;
    try {
        return appendFace(faceid, info, data, stride);
    } catch (const std::exception&) {
        setError("PtexWriter error: out of memory");
        return false;
    }
}

bool PtexIncrWriter::appendFace(int faceid, const FaceInfo& info, const void* data, int stride)
{
    FaceInfo stored;
    if (!prepareFaceInfo(faceid, info, data, stored)) return false;
    const int ures = stored.res.u(), vres = stored.res.v();
    const int rowBytes = ures * _pixelSize;
    if (stride == 0) stride = rowBytes;
    if (PtexUtils::isConstant(data, stride, ures, vres, _pixelSize)) return writeConstantFace(faceid, info, data);

    const EncodeResult encoded = _encoder.encode(data, stride, stored.res, _block);
    if (encoded != EncodeResult::encoded) {
        setError(encodeFailureMessage(encoded));
        return false;
    }
    // The record's value is the average of the premultiplied texels, divided back.
    _texels.resize(size_t(rowBytes) * size_t(vres));
    PtexUtils::copy(data, stride, _texels.data(), rowBytes, vres, rowBytes);
    if (hasAlpha()) PtexUtils::multalpha(_texels.data(), ures * vres, _dataType, _nchannels, _alphachan);
    _value.resize(static_cast<size_t>(_pixelSize));
    PtexUtils::average(_texels.data(), rowBytes, ures, vres, _value.data(), _dataType, _nchannels);
    if (hasAlpha()) PtexUtils::divalpha(_value.data(), 1, _dataType, _nchannels, _alphachan);

    const uint64_t size = 28 + uint64_t(_pixelSize) + _block.data.size();
    if (size > 0xffffffffu) {
        setError("PtexWriter error: invalid face resolution");
        return false;
    }
    _record.clear();
    putU8(_record, kEditFaceData);
    putU32(_record, uint32_t(size));
    putU32(_record, uint32_t(faceid));
    putFaceInfo(_record, stored);
    putU32(_record, _block.header);
    putBytes(_record, _value.data(), _value.size());
    putBytes(_record, _block.data.data(), _block.data.size());
    return appendRecord(_record);
}

bool PtexIncrWriter::writeConstantFace(int faceid, const FaceInfo& info, const void* data)
{
    if (_closed || hasError()) return false;
    FaceInfo stored;
    if (!prepareFaceInfo(faceid, info, data, stored)) return false;
    stored.flags |= FaceInfo::flag_constant;
    _record.clear();
    putU8(_record, kEditFaceData);
    putU32(_record, uint32_t(28 + _pixelSize));
    putU32(_record, uint32_t(faceid));
    putFaceInfo(_record, stored);
    putU32(_record, 0);  // constant: no data block
    putBytes(_record, data, size_t(_pixelSize));
    return appendRecord(_record);
}

bool PtexIncrWriter::close(String& error)
{
    if (_closed) {
        error = "PtexWriter error: writer already closed";
        return false;
    }
    _closed = true;
    try {
        appendMetaRecord();
    } catch (const std::exception&) {
        setError("PtexWriter error: out of memory");
    }
    finishHeader();
    if (std::fclose(_file) != 0 && !hasError()) setError("PtexWriter error: file write failed");
    _file = nullptr;
    if (hasError()) {
        error = closeError();
        return false;
    }
    return true;
}

void PtexIncrWriter::appendMetaRecord()
{
    if (!hasError() && !_meta.empty()) {
        // All entries go into one record, inline whatever their size.
        std::vector<const PtexWriterMetaEntry*> entries;
        for (const PtexWriterMetaEntry& entry : _meta) entries.push_back(&entry);
        Bytes raw, zipped;
        appendMetaRecords(raw, entries);
        if (!deflateBlock(raw.data(), raw.size(), kEditCompression, zipped)) {
            setError("PtexWriter error: data compression internal error");
        } else {
            Bytes record;
            putU8(record, kEditMetaData);
            putU32(record, uint32_t(8 + zipped.size()));
            putU32(record, uint32_t(zipped.size()));
            putU32(record, uint32_t(raw.size()));
            putBytes(record, zipped.data(), zipped.size());
            appendRecord(record);
        }
    }
}

// Files from before the edit position existed are scanned to their end by readers and get no
// header update.
void PtexIncrWriter::finishHeader()
{
    if (!hasError() && _editDataPos != 0) {
        if (std::fseek(_file, 0, SEEK_END) != 0) {
            setError("PtexWriter error: file write failed");
        } else {
            const long end = std::ftell(_file);
            const uint64_t editSize = end >= 0 && uint64_t(end) > _editDataPos ? uint64_t(end) - _editDataPos : 0;
            writeU16At(_extHeader + 0, uint16_t(_uBorderMode));
            writeU16At(_extHeader + 4, uint16_t(_vBorderMode));
            writeU16At(_extHeader + 6, uint16_t(_edgeFilterMode));
            writeU64At(_extHeader + 24, editSize);
            const size_t extBytes = _extHeaderSize < 40 ? _extHeaderSize : 40;
            if (std::fseek(_file, 64, SEEK_SET) != 0 || std::fwrite(_extHeader, 1, extBytes, _file) != extBytes)
                setError("PtexWriter error: file write failed");
        }
    }
}

PTEX_NAMESPACE_END
