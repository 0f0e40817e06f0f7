// FileIndex: what opening a Ptex file reads and validates once and keeps for the texture's life:
// the headers, the section positions, the level info, the face info table (edits applied), the
// constant value of every face and the edit records. Parsed from a ByteSource, so that the same
// code reads files, memory and the bytes a test hands it.
#pragma once

#include "PtexIO.h"
#include "PtexReadError.h"
#include "Ptexture.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

PTEX_NAMESPACE_BEGIN

// Positioned reads of one input of known size.
class ByteSource {
public:
    virtual uint64_t size() const = 0;
    // Reads exactly `size` bytes at `pos`; false with readFailed otherwise.
    virtual bool readAt(uint64_t pos, void* dst, size_t size, ReadError& error) = 0;
    // Reads the zip block of `zipSize` bytes at `pos` and inflates it to exactly `memSize` bytes.
    virtual bool readZip(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize, ReadError& error);

protected:
    ~ByteSource() {}
};

struct FileIndex {
    // A face that an edit record replaced: where its level-0 block lies instead (none for a
    // face edited to a constant), and its reduction key as stored before the edit, which
    // still places it in the reduced levels.
    struct FaceEdit {
        PtexIO::FaceDataHeader header;
        uint64_t offset = 0;
        bool hasData = false;
        int8_t storedKey = 0;
    };
    // Which faces a reduced level holds: all faces of keys >= fullKey, and of key partialKey
    // those whose reduction rank is below the level's face count.
    struct LevelMembers {
        int fullKey = kNumKeys;
        int partialKey = -1;
    };
    static constexpr int kNumKeys = 32;
    struct MetaEdit {
        uint64_t pos = 0;
        uint32_t zipSize = 0;
        uint32_t memSize = 0;
    };

    PtexIO::Header header;
    PtexIO::ExtHeader extHeader;
    // The header and extended header bytes as read, compared again when a handle is reopened.
    uint8_t headerBytes[PtexIO::kHeaderSize + PtexIO::kExtHeaderSize] = {};
    size_t headerBytesSize = 0;
    uint64_t fileSize = 0;
    int pixelSize = 0;
    bool premultiply = false;  // alpha is multiplied into level-0 data and the constant values
    bool hasEdits = false;
    uint64_t metaDataPos = 0;
    uint64_t lmdHeaderPos = 0;
    uint64_t lmdDataPos = 0;
    std::vector<PtexIO::LevelInfo> levelInfo;
    std::vector<uint64_t> levelPos;
    std::vector<FaceInfo> faces;
    std::vector<LevelMembers> levelMembers;
    uint32_t keyCount[kNumKeys] = {};  // faces per stored reduction key
    std::unique_ptr<uint8_t[]> constData;
    std::unordered_map<uint32_t, FaceEdit> faceEdits;
    std::vector<MetaEdit> metaEdits;

    int numFaces() const { return int(header.nfaces); }
    int numLevels() const { return int(header.nlevels); }
    DataType dataType() const { return DataType(header.datatype); }
    bool triangles() const { return header.meshtype == mt_triangle; }
    const uint8_t* constantValue(int faceid) const { return constData.get() + size_t(pixelSize) * size_t(faceid); }
    // The key that orders faces in the reduced levels, from the face info as stored (before
    // edits): the smaller log2 side, 1 for constant faces.
    int storedKey(int faceid) const;
    // Whether reduced level `level` holds the face: 1 yes, 0 no, -1 it depends on the face's
    // rank (reductionOrder), which only a file with a cut through one key's faces needs.
    int levelHolds(int level, int faceid) const;
    // Each face's position in the reduced levels (the stable order by descending key).
    void reductionOrder(uint32_t* rfaceids) const;
    // Fills keyCount and levelMembers from the faces and the level info (done by parsing).
    void computeLevelMembers();
    // Bytes held by the index (what stays for the texture's life).
    size_t memoryBytes() const;
};

// The mode a stored border or edge filter mode value stands for: values outside the
// enumerations mean clamp and none.
inline BorderMode borderModeOf(uint16_t stored) { return stored == 1 ? m_black : stored == 2 ? m_periodic : m_clamp; }
inline EdgeFilterMode edgeFilterModeOf(uint16_t stored) { return stored == 1 ? efm_tanvec : efm_none; }

// Reads and validates everything open needs. On failure, `error` says why; the index is then
// unusable.
bool parseFileIndex(ByteSource& source, bool premultiply, FileIndex& index, ReadError& error);

// The largest decoded image the format allows and the largest log2 of a side.
constexpr uint64_t kMaxImageBytes = 0x7fffffffu;
constexpr int kMaxLog2 = 30;

PTEX_NAMESPACE_END
