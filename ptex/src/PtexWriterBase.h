// What the full-file writer and the incremental writer share: argument checks, the recorded
// error, face info validation and normalisation, border/edge modes and the meta data entries.
// The two concrete writers are PtexMainWriter and PtexIncrWriter.
#pragma once

#include "PtexWriterEncoding.h"
#include "Ptexture.h"

#include <map>
#include <string>
#include <vector>

PTEX_NAMESPACE_BEGIN

// One meta data entry: key, type and the value bytes as stored (little-endian, strings with NUL).
struct PtexWriterMetaEntry {
    std::string key;
    MetaDataType type = mdt_string;
    std::vector<uint8_t> data;
};

class PtexWriterBase : public PtexWriter {
public:
    // Validates the arguments common to open and edit; on failure sets `error`.
    static bool checkArgs(MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces, String& error);

    void release() override;
    void setBorderModes(BorderMode uBorderMode, BorderMode vBorderMode) override;
    void setEdgeFilterMode(EdgeFilterMode edgeFilterMode) override;
    void writeMeta(const char* key, const char* string) override;
    void writeMeta(const char* key, const int8_t* value, int count) override;
    void writeMeta(const char* key, const int16_t* value, int count) override;
    void writeMeta(const char* key, const int32_t* value, int count) override;
    void writeMeta(const char* key, const float* value, int count) override;
    void writeMeta(const char* key, const double* value, int count) override;
    void writeMeta(PtexMetaData* data) override;

protected:
    PtexWriterBase(const char* path, MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces);
    ~PtexWriterBase() override;

    // Keeps the most recent error; close reports it.
    void setError(const std::string& message);
    bool hasError() const { return !_error.empty(); }
    // The recorded error with the file suffix that close reports.
    std::string closeError() const { return _error + "\nPtex file: " + _path; }

    // Checks face id, resolution, data pointer and adjacency, then normalises the record as
    // stored: triangle faces keep no flags and only three edges; quad faces keep the subface
    // flag; negative neighbour ids become -1. Records the error and returns false on failure.
    bool prepareFaceInfo(int faceid, const FaceInfo& info, const void* data, FaceInfo& stored);

    // Writes `entries` as consecutive small meta data records.
    static void appendMetaRecords(PtexWriterEncoding::Bytes& out,
                                  const std::vector<const PtexWriterMetaEntry*>& entries);

    bool hasAlpha() const { return _alphachan >= 0; }

    std::string _path;
    MeshType _meshType;
    DataType _dataType;
    int _nchannels;
    int _alphachan;
    int _nfaces;
    int _pixelSize;
    BorderMode _uBorderMode = m_clamp;
    BorderMode _vBorderMode = m_clamp;
    EdgeFilterMode _edgeFilterMode = efm_none;
    bool _modesChanged = false;
    bool _metaChanged = false;  // an entry was stored since the last reset
    bool _closed = false;
    std::vector<PtexWriterMetaEntry> _meta;  // in entry order; a rewritten key keeps its place

private:
    void storeMeta(const char* key, MetaDataType type, const void* value, int elementSize, int count);

    std::string _error;
    std::map<std::string, size_t> _metaIndex;
};

PTEX_NAMESPACE_END
