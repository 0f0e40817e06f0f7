// PtexIncrWriter: edits an existing Ptex file by appending edit records (face data, constant
// faces, one meta data record) and updating the extended header at close. Existing data are
// never rewritten; readers apply the records over the file's own data.
#pragma once

#include "PtexWriterBase.h"

#include <cstdio>
#include <memory>

PTEX_NAMESPACE_BEGIN

class PtexIncrWriter : public PtexWriterBase {
public:
    // Takes an existing file opened for update; checks its header against the arguments.
    // Returns null with `error` set when the file is not a Ptex file or does not match.
    static PtexIncrWriter* create(const char* path, std::FILE* file, MeshType mt, DataType dt, int nchannels,
                                  int alphachan, int nfaces, String& error);
    ~PtexIncrWriter() override;

    bool writeFace(int faceid, const FaceInfo& info, const void* data, int stride = 0) override;
    bool writeConstantFace(int faceid, const FaceInfo& info, const void* data) override;
    bool close(String& error) override;

private:
    PtexIncrWriter(const char* path, std::FILE* file, MeshType mt, DataType dt, int nchannels, int alphachan,
                   int nfaces);
    bool appendFace(int faceid, const FaceInfo& info, const void* data, int stride);
    bool appendRecord(const PtexWriterEncoding::Bytes& record);
    void appendMetaRecord();
    void finishHeader();

    std::FILE* _file;
    uint32_t _extHeaderSize = 0;
    uint8_t _extHeader[40] = {};  // as read, zero-extended; rewritten at close
    uint64_t _editDataPos = 0;
    // Reused from face to face.
    PtexWriterEncoding::FaceEncoder _encoder;
    PtexWriterEncoding::Block _block;
    PtexWriterEncoding::Bytes _texels;
    PtexWriterEncoding::Bytes _value;
    PtexWriterEncoding::Bytes _record;
};

PTEX_NAMESPACE_END
