// Shared writer behaviour: argument and face info checks with their exact messages, the
// meta data entry list, and release().

#include "PtexWriterBase.h"

#include <cstdio>
#include <cstring>

PTEX_NAMESPACE_BEGIN

using namespace PtexWriterEncoding;

bool PtexWriterBase::checkArgs(MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces, String& error)
{
    if (mt != mt_triangle && mt != mt_quad) {
        error = "PtexWriter error: Invalid mesh type";
        return false;
    }
    if (int(dt) < 0 || int(dt) > 3) {
        error = "PtexWriter error: Invalid data type";
        return false;
    }
    // The header stores the channel count in 16 bits.
    if (nchannels <= 0 || nchannels > 65535) {
        error = "PtexWriter error: Invalid number of channels";
        return false;
    }
    if (alphachan != -1 && (alphachan < 0 || alphachan >= nchannels)) {
        error = "PtexWriter error: Invalid alpha channel";
        return false;
    }
    if (nfaces < 1) {
        error = "PtexWriter error: Invalid number of faces";
        return false;
    }
    return true;
}

PtexWriterBase::PtexWriterBase(const char* path, MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces)
    : _path(path ? path : ""),
      _meshType(mt),
      _dataType(dt),
      _nchannels(nchannels),
      _alphachan(alphachan),
      _nfaces(nfaces),
      _pixelSize(DataSize(dt) * nchannels)
{}

PtexWriterBase::~PtexWriterBase() = default;

void PtexWriterBase::release()
{
    if (!_closed) {
        String error;
        if (!close(error)) std::fprintf(stderr, "%s\n", error.c_str());
    }
    delete this;
}

void PtexWriterBase::setError(const std::string& message) { _error = message; }

void PtexWriterBase::setBorderModes(BorderMode uBorderMode, BorderMode vBorderMode)
{
    if (int(uBorderMode) < 0 || int(uBorderMode) > 2 || int(vBorderMode) < 0 || int(vBorderMode) > 2) {
        setError("PtexWriter error: invalid border mode");
        return;
    }
    if (uBorderMode != _uBorderMode || vBorderMode != _vBorderMode) _modesChanged = true;
    _uBorderMode = uBorderMode;
    _vBorderMode = vBorderMode;
}

void PtexWriterBase::setEdgeFilterMode(EdgeFilterMode edgeFilterMode)
{
    if (int(edgeFilterMode) < 0 || int(edgeFilterMode) > 1) {
        setError("PtexWriter error: invalid edge filter mode");
        return;
    }
    if (edgeFilterMode != _edgeFilterMode) _modesChanged = true;
    _edgeFilterMode = edgeFilterMode;
}

bool PtexWriterBase::prepareFaceInfo(int faceid, const FaceInfo& info, const void* data, FaceInfo& stored)
{
    if (faceid < 0 || faceid >= _nfaces) {
        setError("PtexWriter error: faceid out of range");
        return false;
    }
    const int ulog2 = info.res.ulog2, vlog2 = info.res.vlog2;
    // Image sizes are 32-bit signed quantities in every reader.
    if (ulog2 < 0 || vlog2 < 0 || ulog2 + vlog2 > 31 ||
        (uint64_t(_pixelSize) << (ulog2 + vlog2)) >= (uint64_t(1) << 31)) {
        setError("PtexWriter error: invalid face resolution");
        return false;
    }
    if (!data) {
        setError("PtexWriter error: null face data");
        return false;
    }
    if (_meshType == mt_triangle && ulog2 != vlog2) {
        setError("PtexWriter error: asymmetric face res not supported for triangle textures");
        return false;
    }
    const int nedges = _meshType == mt_triangle ? 3 : 4;
    for (int e = 0; e < nedges; ++e) {
        if (info.adjfaces[e] >= _nfaces) {
            setError("PtexWriter error: adjacent face id out of range");
            return false;
        }
    }
    stored = info;
    for (int e = 0; e < 4; ++e)
        if (stored.adjfaces[e] < 0) stored.adjfaces[e] = -1;
    if (_meshType == mt_triangle) {
        stored.flags = 0;
        stored.adjfaces[3] = -1;
        stored.adjedges &= 0x3f;
    } else {
        stored.flags &= FaceInfo::flag_subface;
    }
    return true;
}

void PtexWriterBase::storeMeta(const char* key, MetaDataType type, const void* value, int elementSize, int count)
{
    if (!key) {
        setError("PtexWriter error: meta data key is null");
        return;
    }
    // The stored key length byte includes the terminating NUL, so 254 characters is the limit.
    if (std::strlen(key) >= 255) {
        setError(std::string("PtexWriter error: meta data key too long (max=254) \"") + key + "\"");
        return;
    }
    if (!value || count <= 0) {
        setError(std::string("PtexWriter error: meta data size <= 0 for \"") + key + "\"");
        return;
    }
    // Sizes are stored in 32 bits.
    const uint64_t size = uint64_t(elementSize) * uint64_t(count);
    if (size > 0x7fffffffu) {
        setError(std::string("PtexWriter error: meta data too large for \"") + key + "\"");
        return;
    }
    try {
        PtexWriterMetaEntry entry;
        entry.key = key;
        entry.type = type;
        const uint8_t* bytes = static_cast<const uint8_t*>(value);
        entry.data.assign(bytes, bytes + size);
        _metaChanged = true;
        auto found = _metaIndex.find(entry.key);
        if (found != _metaIndex.end()) {
            _meta[found->second] = std::move(entry);
        } else {
            _metaIndex.emplace(entry.key, _meta.size());
            _meta.push_back(std::move(entry));
        }
    } catch (const std::exception&) {
        setError("PtexWriter error: out of memory");
    }
}

void PtexWriterBase::writeMeta(const char* key, const char* string)
{
    storeMeta(key, mdt_string, string, 1, string ? int(std::strlen(string)) + 1 : 0);
}

// Values are stored little-endian, which is the memory layout on every supported CPU.
void PtexWriterBase::writeMeta(const char* key, const int8_t* value, int count)
{
    storeMeta(key, mdt_int8, value, 1, count);
}

void PtexWriterBase::writeMeta(const char* key, const int16_t* value, int count)
{
    storeMeta(key, mdt_int16, value, 2, count);
}

void PtexWriterBase::writeMeta(const char* key, const int32_t* value, int count)
{
    storeMeta(key, mdt_int32, value, 4, count);
}

void PtexWriterBase::writeMeta(const char* key, const float* value, int count)
{
    storeMeta(key, mdt_float, value, 4, count);
}

void PtexWriterBase::writeMeta(const char* key, const double* value, int count)
{
    storeMeta(key, mdt_double, value, 8, count);
}

void PtexWriterBase::writeMeta(PtexMetaData* data)
{
    if (!data) return;
    const int nkeys = data->numKeys();
    for (int i = 0; i < nkeys; ++i) {
        const char* key = nullptr;
        MetaDataType type = mdt_string;
        data->getKey(i, key, type);
        if (!key) continue;
        int count = 0;
        switch (type) {
        case mdt_string: {
            const char* value = nullptr;
            data->getValue(i, value);
            if (value) writeMeta(key, value);
            break;
        }
        case mdt_int8: {
            const int8_t* value = nullptr;
            data->getValue(i, value, count);
            if (value) writeMeta(key, value, count);
            break;
        }
        case mdt_int16: {
            const int16_t* value = nullptr;
            data->getValue(i, value, count);
            if (value) writeMeta(key, value, count);
            break;
        }
        case mdt_int32: {
            const int32_t* value = nullptr;
            data->getValue(i, value, count);
            if (value) writeMeta(key, value, count);
            break;
        }
        case mdt_float: {
            const float* value = nullptr;
            data->getValue(i, value, count);
            if (value) writeMeta(key, value, count);
            break;
        }
        case mdt_double: {
            const double* value = nullptr;
            data->getValue(i, value, count);
            if (value) writeMeta(key, value, count);
            break;
        }
        }
    }
}

void PtexWriterBase::appendMetaRecords(Bytes& out, const std::vector<const PtexWriterMetaEntry*>& entries)
{
    for (const PtexWriterMetaEntry* entry : entries) {
        putU8(out, uint8_t(entry->key.size() + 1));
        putBytes(out, entry->key.c_str(), entry->key.size() + 1);
        putU8(out, uint8_t(entry->type));
        putU32(out, uint32_t(entry->data.size()));
        putBytes(out, entry->data.data(), entry->data.size());
    }
}

PTEX_NAMESPACE_END
