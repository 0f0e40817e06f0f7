// PtexMainWriter: writes a whole Ptex file (a new file, or the full rewrite of an existing one).
// Faces are encoded as they arrive, with their reductions, into a spool; at close the constant
// values, flags and the file layout are made and the blocks copied in file order, and the file
// appears at its path in one rename. What stays in memory per face is a small fixed record.
#pragma once

#include "PtexWriterBase.h"
#include "PtexWriterSpool.h"

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
    // Where a face's blocks are in the spool. The reductions of one face are spooled one
    // after the other, level 1 first; their header words are in _reductionHeaders.
    struct FaceRecord {
        uint64_t level0Offset = 0;
        uint64_t reductionOffset = 0;
        uint32_t level0Header = 0;  // 0: no level-0 block (possibly stale, see addConstantFace)
        uint32_t firstReductionHeader = 0;
        uint8_t numReductions = 0;
        bool written = false;
    };
    struct Level {
        std::vector<uint32_t> headers;
        uint64_t dataSize = 0;
        PtexWriterEncoding::Bytes zippedHeaders;
    };

    bool spoolBlock(const PtexWriterEncoding::Block& block, uint64_t& offset);
    bool spoolReductions(int faceid, const FaceInfo& info, const uint8_t* packed);
    void computeConstantValue(int faceid, const void* packed, Res res);
    bool fillUnwrittenFaces();
    void buildLevels(std::vector<Level>& levels, std::vector<uint32_t>& reductionOrder) const;
    bool writeFile(const std::string& tmpPath, std::vector<Level>& levels, const std::vector<uint32_t>& reductionOrder);

    bool _genmipmaps;
    bool _isRewrite = false;
    bool _hasNewData = false;
    std::unique_ptr<FaceSource> _source;
    std::vector<FaceInfo> _infos;
    std::vector<uint8_t> _constData;  // one texel per face: constant value or representative average
    std::vector<FaceRecord> _faces;
    std::vector<uint32_t> _reductionHeaders;
    PtexWriterSpool _spool;
    // Reused from face to face.
    PtexWriterEncoding::FaceEncoder _encoder;
    PtexWriterEncoding::Block _block;
    PtexWriterEncoding::Bytes _texels;
    PtexWriterEncoding::Bytes _reduced;
    PtexWriterEncoding::Bytes _nextReduced;
};

PTEX_NAMESPACE_END
