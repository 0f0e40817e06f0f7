// WrittenFile: an independent, byte-level parse of a Ptex file (header, face info, constant data,
// levels and their blocks, meta data records), so that writer tests can check the structure and
// the stored texels of a file without going through the library's reader.
#pragma once

#include <Ptexture.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarsk::test {

struct WrittenMetaRecord {
    std::string key;
    int type = 0;
    std::vector<uint8_t> data;
    bool large = false;
};

class WrittenFile {
public:
    struct Level {
        uint64_t dataSize = 0;
        uint32_t headerSize = 0;
        uint32_t nfaces = 0;
        uint64_t pos = 0;
        std::vector<uint32_t> headers;   // face data header words
        std::vector<uint64_t> blockPos;  // file position of each face block
    };

    // Reads and parses `path`; false with `error` on any inconsistency.
    bool load(const std::string& path, std::string& error);

    // Decodes block `index` of `level` (a face stored at `res`) into interleaved texels.
    bool decodeFace(int level, int index, Ptex::Res res, std::vector<uint8_t>& texels, std::string& error) const;
    // Decodes the block at file position `pos` with face data header `header` (for instance the
    // data of an edit record).
    bool decodeBlockAt(uint64_t pos, uint32_t header, Ptex::Res res, std::vector<uint8_t>& texels,
                       std::string& error) const;
    // Tile resolution of a tiled block, or res when not tiled.
    Ptex::Res tileRes(int level, int index, Ptex::Res res) const;

    uint32_t u32(uint64_t pos) const;
    uint64_t u64(uint64_t pos) const;
    uint16_t u16(uint64_t pos) const;
    bool inflateAt(uint64_t pos, uint64_t zipSize, uint64_t memSize, std::vector<uint8_t>& out) const;

    std::vector<uint8_t> bytes;
    uint32_t meshType = 0, dataType = 0, nfaces = 0, extHeaderSize = 0, faceInfoSize = 0, constDataSize = 0,
             levelInfoSize = 0, minorVersion = 0, metaZipSize = 0, metaMemSize = 0;
    int32_t alphaChannel = -1;
    uint16_t nchannels = 0, nlevels = 0;
    uint64_t levelDataSize = 0;
    uint16_t uBorderMode = 0, vBorderMode = 0, edgeFilterMode = 0;
    uint32_t lmdHeaderZipSize = 0, lmdHeaderMemSize = 0;
    uint64_t lmdDataSize = 0, editDataSize = 0, editDataPos = 0;
    uint64_t metaPos = 0, endOfSections = 0;

    std::vector<Ptex::FaceInfo> faces;
    std::vector<uint8_t> constData;
    std::vector<Level> levels;
    std::vector<WrittenMetaRecord> meta;  // small block records, then large items

    int pixelSize() const { return Ptex::DataSize(Ptex::DataType(dataType)) * nchannels; }

private:
    bool decodeBlock(uint64_t pos, uint32_t header, Ptex::Res res, uint8_t* dst, int dstride, std::string& error) const;
};

// Parses consecutive small meta data records; false when a record runs past the end.
bool parseMetaRecords(const std::vector<uint8_t>& raw, std::vector<WrittenMetaRecord>& out);

// Parses `path`, failing the current test (with the parse error) when it does not load.
WrittenFile loadWrittenFile(const std::string& path);

}  // namespace tarsk::test
