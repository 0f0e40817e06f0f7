// PtexMainWriter: writes a whole Ptex file (a new file, or the full rewrite of an existing one).
// Faces are encoded as they arrive; reductions, constant values, flags and the file layout are
// made at close, and the file appears at its path in one rename.
#pragma once

#include "PtexWriterBase.h"

#include <memory>
#include <vector>

PTEX_NAMESPACE_BEGIN

class PtexMainWriter : public PtexWriterBase {
public:
    // Supplies, at close, the faces that were not written through the writer (full rewrite).
    class FaceSource {
    public:
        virtual ~FaceSource() = default;
        // Sends face `faceid` through writer.addFace/addConstantFace; false with the writer's
        // error recorded when the face cannot be read.
        virtual bool copyFace(int faceid, PtexMainWriter& writer) = 0;
    };

    PtexMainWriter(const char* path, MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces,
                   bool genmipmaps);
    ~PtexMainWriter() override;

    // Full rewrite: unwritten faces come from `source`; the file's modes are the starting
    // values; `hasEdits` makes close rewrite the file even when nothing else changes.
    void setExistingFile(std::unique_ptr<FaceSource> source, BorderMode uBorderMode, BorderMode vBorderMode,
                         EdgeFilterMode edgeFilterMode, bool hasEdits);

    bool writeFace(int faceid, const FaceInfo& info, const void* data, int stride = 0) override;
    bool writeConstantFace(int faceid, const FaceInfo& info, const void* data) override;
    bool close(String& error) override;

    bool addFace(int faceid, const FaceInfo& info, const void* data, int stride);
    bool addConstantFace(int faceid, const FaceInfo& info, const void* data);
    void recordError(const std::string& message) { setError(message); }

private:
    struct FaceState {
        bool written = false;
        bool hasLevel0 = false;  // a level-0 block exists (possibly stale, see addConstantFace)
        PtexWriterEncoding::Block level0;
        std::vector<uint8_t> reduction;  // first stored reduction, premultiplied, packed
    };
    struct Level {
        std::vector<uint32_t> headers;
        std::vector<PtexWriterEncoding::Bytes> blocks;
        uint64_t dataSize = 0;
        PtexWriterEncoding::Bytes zippedHeaders;
    };

    void computeConstantValue(int faceid, const void* packed, Res res);
    bool fillUnwrittenFaces();
    bool buildReductions(std::vector<Level>& levels);
    bool writeFile(const std::string& tmpPath, std::vector<Level>& levels);

    bool _genmipmaps;
    bool _isRewrite = false;
    bool _hasNewData = false;
    std::unique_ptr<FaceSource> _source;
    std::vector<FaceInfo> _infos;
    std::vector<uint8_t> _constData;  // one texel per face: constant value or representative average
    std::vector<FaceState> _faces;
};

PTEX_NAMESPACE_END
