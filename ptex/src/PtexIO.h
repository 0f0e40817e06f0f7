// The on-disk structures of a Ptex file (header, extended header, level info, face data
// headers, tiled blocks, edit records) and their explicit little-endian decoding. Every field
// is decoded from bytes; structs are never copied from the file as a whole.
#pragma once

#include "Ptexture.h"

#include <cstdint>
#include <cstring>

PTEX_NAMESPACE_BEGIN

namespace PtexIO {

constexpr uint32_t kMagic = 0x78657450;  // "Ptex" read as a little-endian u32
constexpr size_t kHeaderSize = 64;
constexpr size_t kExtHeaderSize = 40;
constexpr size_t kFaceInfoRecordSize = 20;
constexpr size_t kLevelInfoRecordSize = 16;
constexpr size_t kEditFramingSize = 5;
constexpr size_t kFaceEditFixedSize = 28;  // faceid, face info record, face data header
constexpr size_t kTiledBlockPrefixSize = 6;
constexpr size_t kBarrierSize = 8;
// zlib cannot expand data by more than this factor; a larger claim is corrupt.
constexpr uint64_t kMaxInflateRatio = 1032;

enum Encoding { enc_constant = 0, enc_zipped = 1, enc_diffzipped = 2, enc_tiled = 3 };
enum EditType { et_editfacedata = 0, et_editmetadata = 1 };

inline uint16_t getU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t getU32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t getI32(const uint8_t* p) { return int32_t(getU32(p)); }
inline uint64_t getU64(const uint8_t* p) { return uint64_t(getU32(p)) | (uint64_t(getU32(p + 4)) << 32); }

struct Header {
    uint32_t magic = 0;
    uint32_t version = 0;
    uint32_t meshtype = 0;
    uint32_t datatype = 0;
    int32_t alphachan = 0;
    uint16_t nchannels = 0;
    uint16_t nlevels = 0;
    uint32_t nfaces = 0;
    uint32_t extheadersize = 0;
    uint32_t faceinfosize = 0;
    uint32_t constdatasize = 0;
    uint32_t levelinfosize = 0;
    uint32_t minorversion = 0;
    uint64_t leveldatasize = 0;
    uint32_t metadatazipsize = 0;
    uint32_t metadatamemsize = 0;

    void decode(const uint8_t* b)
    {
        magic = getU32(b);
        version = getU32(b + 4);
        meshtype = getU32(b + 8);
        datatype = getU32(b + 12);
        alphachan = getI32(b + 16);
        nchannels = getU16(b + 20);
        nlevels = getU16(b + 22);
        nfaces = getU32(b + 24);
        extheadersize = getU32(b + 28);
        faceinfosize = getU32(b + 32);
        constdatasize = getU32(b + 36);
        levelinfosize = getU32(b + 40);
        minorversion = getU32(b + 44);
        leveldatasize = getU64(b + 48);
        metadatazipsize = getU32(b + 56);
        metadatamemsize = getU32(b + 60);
    }
    int pixelSize() const { return DataSize(DataType(datatype)) * nchannels; }
    bool hasAlpha() const { return alphachan >= 0 && alphachan < int(nchannels); }
};

struct ExtHeader {
    uint16_t ubordermode = 0;
    uint16_t vbordermode = 0;
    uint16_t edgefiltermode = 0;
    uint32_t lmdheaderzipsize = 0;
    uint32_t lmdheadermemsize = 0;
    uint64_t lmddatasize = 0;
    uint64_t editdatasize = 0;
    uint64_t editdatapos = 0;

    // b holds kExtHeaderSize bytes; fields the file did not have are zero.
    void decode(const uint8_t* b)
    {
        ubordermode = getU16(b);
        vbordermode = getU16(b + 4);
        edgefiltermode = getU16(b + 6);
        lmdheaderzipsize = getU32(b + 8);
        lmdheadermemsize = getU32(b + 12);
        lmddatasize = getU64(b + 16);
        editdatasize = getU64(b + 24);
        editdatapos = getU64(b + 32);
    }
};

struct LevelInfo {
    uint64_t leveldatasize = 0;
    uint32_t levelheadersize = 0;
    uint32_t nfaces = 0;

    void decode(const uint8_t* b)
    {
        leveldatasize = getU64(b);
        levelheadersize = getU32(b + 8);
        nfaces = getU32(b + 12);
    }
};

// One u32 per stored block: 30 bits of size, 2 bits of encoding.
struct FaceDataHeader {
    uint32_t data = 0;
    uint32_t blocksize() const { return data & 0x3fffffffu; }
    Encoding encoding() const { return Encoding(data >> 30); }
};

inline FaceInfo decodeFaceInfo(const uint8_t* b)
{
    FaceInfo f;
    f.res.ulog2 = int8_t(b[0]);
    f.res.vlog2 = int8_t(b[1]);
    f.adjedges = b[2];
    f.flags = b[3];
    for (int e = 0; e < 4; ++e) f.adjfaces[e] = getI32(b + 4 + 4 * e);
    return f;
}

// True if [pos, pos + size) lies inside a file of fileSize bytes; never adds first, so huge
// sizes cannot wrap around.
inline bool inFile(uint64_t pos, uint64_t size, uint64_t fileSize) { return pos <= fileSize && size <= fileSize - pos; }

// True if an inflate of zipSize bytes could produce memSize bytes.
inline bool plausibleInflate(uint64_t memSize, uint64_t zipSize) { return memSize <= kMaxInflateRatio * zipSize; }

}  // namespace PtexIO

PTEX_NAMESPACE_END
