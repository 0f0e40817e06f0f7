// Byte-level parse of Ptex files for writer tests: every field decoded explicitly, little-endian.

#include "WrittenFile.h"

#include <PtexUtils.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace tarsk::test {

uint16_t WrittenFile::u16(uint64_t pos) const { return uint16_t(bytes[pos] | bytes[pos + 1] << 8); }

uint32_t WrittenFile::u32(uint64_t pos) const
{
    return uint32_t(bytes[pos]) | uint32_t(bytes[pos + 1]) << 8 | uint32_t(bytes[pos + 2]) << 16 |
           uint32_t(bytes[pos + 3]) << 24;
}

uint64_t WrittenFile::u64(uint64_t pos) const { return uint64_t(u32(pos)) | uint64_t(u32(pos + 4)) << 32; }

bool WrittenFile::inflateAt(uint64_t pos, uint64_t zipSize, uint64_t memSize, std::vector<uint8_t>& out) const
{
    if (pos > bytes.size() || zipSize > bytes.size() - pos) return false;
    out.assign(size_t(memSize), 0);
    uLongf destLen = uLongf(memSize);
    uLong srcLen = uLong(zipSize);
    const int status = uncompress2(out.data(), &destLen, &bytes[pos], &srcLen);
    return status == Z_OK && destLen == memSize;
}

bool parseMetaRecords(const std::vector<uint8_t>& raw, std::vector<WrittenMetaRecord>& out)
{
    size_t pos = 0;
    while (pos < raw.size()) {
        const size_t keySize = raw[pos];
        if (keySize == 0 || pos + 1 + keySize + 5 > raw.size()) return false;
        WrittenMetaRecord record;
        record.key.assign(reinterpret_cast<const char*>(&raw[pos + 1]), keySize - 1);
        pos += 1 + keySize;
        record.type = raw[pos];
        const uint32_t size = uint32_t(raw[pos + 1]) | uint32_t(raw[pos + 2]) << 8 | uint32_t(raw[pos + 3]) << 16 |
                              uint32_t(raw[pos + 4]) << 24;
        pos += 5;
        if (size > raw.size() - pos) return false;
        record.data.assign(raw.begin() + long(pos), raw.begin() + long(pos + size));
        pos += size;
        out.push_back(std::move(record));
    }
    return true;
}

bool WrittenFile::load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.size() < 104 || u32(0) != 0x78657450 || u32(4) != 1) {
        error = "bad header";
        return false;
    }
    meshType = u32(8);
    dataType = u32(12);
    alphaChannel = int32_t(u32(16));
    nchannels = u16(20);
    nlevels = u16(22);
    nfaces = u32(24);
    extHeaderSize = u32(28);
    faceInfoSize = u32(32);
    constDataSize = u32(36);
    levelInfoSize = u32(40);
    minorVersion = u32(44);
    levelDataSize = u64(48);
    metaZipSize = u32(56);
    metaMemSize = u32(60);
    uBorderMode = u16(64);
    vBorderMode = u16(68);
    edgeFilterMode = u16(70);
    lmdHeaderZipSize = u32(72);
    lmdHeaderMemSize = u32(76);
    lmdDataSize = u64(80);
    editDataSize = u64(88);
    editDataPos = u64(96);
    if (dataType > 3 || nlevels == 0) {
        error = "bad header values";
        return false;
    }

    uint64_t pos = 64 + extHeaderSize;
    std::vector<uint8_t> raw;
    if (!inflateAt(pos, faceInfoSize, uint64_t(nfaces) * 20, raw)) {
        error = "face info block";
        return false;
    }
    faces.resize(nfaces);
    for (uint32_t f = 0; f < nfaces; ++f) std::memcpy(&faces[f], &raw[size_t(f) * 20], 20);
    pos += faceInfoSize;
    if (!inflateAt(pos, constDataSize, uint64_t(nfaces) * uint64_t(pixelSize()), constData)) {
        error = "constant data block";
        return false;
    }
    pos += constDataSize;
    const uint64_t levelInfoPos = pos;
    if (levelInfoPos + 16 * uint64_t(nlevels) > bytes.size()) {
        error = "level info past the end of the file";
        return false;
    }
    pos += levelInfoSize;
    uint64_t levelPos = pos;
    levels.resize(nlevels);
    uint64_t total = 0;
    for (int l = 0; l < nlevels; ++l) {
        Level& level = levels[size_t(l)];
        level.dataSize = u64(levelInfoPos + 16 * uint64_t(l));
        level.headerSize = u32(levelInfoPos + 16 * uint64_t(l) + 8);
        level.nfaces = u32(levelInfoPos + 16 * uint64_t(l) + 12);
        level.pos = levelPos;
        if (!inflateAt(levelPos, level.headerSize, uint64_t(level.nfaces) * 4, raw)) {
            error = "level header " + std::to_string(l);
            return false;
        }
        uint64_t blockPos = levelPos + level.headerSize;
        for (uint32_t k = 0; k < level.nfaces; ++k) {
            uint32_t word;
            std::memcpy(&word, &raw[size_t(k) * 4], 4);
            level.headers.push_back(word);
            level.blockPos.push_back(blockPos);
            blockPos += word & 0x3fffffffu;
        }
        if (blockPos - levelPos != level.dataSize || blockPos > bytes.size()) {
            error = "level " + std::to_string(l) + " size mismatch";
            return false;
        }
        levelPos += level.dataSize;
        total += level.dataSize;
    }
    if (total != levelDataSize) {
        error = "level data size mismatch";
        return false;
    }
    metaPos = levelPos;
    if (metaMemSize) {
        if (!inflateAt(metaPos, metaZipSize, metaMemSize, raw) || !parseMetaRecords(raw, meta)) {
            error = "meta data block";
            return false;
        }
    }
    const uint64_t lmdHeaderPos = metaPos + metaZipSize + 8;
    endOfSections = lmdHeaderPos + lmdHeaderZipSize + lmdDataSize;
    if (lmdHeaderMemSize) {
        if (!inflateAt(lmdHeaderPos, lmdHeaderZipSize, lmdHeaderMemSize, raw)) {
            error = "large meta data header";
            return false;
        }
        uint64_t itemPos = lmdHeaderPos + lmdHeaderZipSize;
        size_t p = 0;
        while (p < raw.size()) {
            WrittenMetaRecord record;
            const size_t keySize = raw[p];
            record.key.assign(reinterpret_cast<const char*>(&raw[p + 1]), keySize - 1);
            p += 1 + keySize;
            record.type = raw[p];
            uint32_t dataSize, zipSize;
            std::memcpy(&dataSize, &raw[p + 1], 4);
            std::memcpy(&zipSize, &raw[p + 5], 4);
            p += 9;
            if (!inflateAt(itemPos, zipSize, dataSize, record.data)) {
                error = "large meta data item " + record.key;
                return false;
            }
            itemPos += zipSize;
            record.large = true;
            meta.push_back(std::move(record));
        }
    }
    return true;
}

bool WrittenFile::decodeBlock(uint64_t pos, uint32_t header, Ptex::Res res, uint8_t* dst, int dstride,
                              std::string& error) const
{
    const uint32_t size = header & 0x3fffffffu;
    const uint32_t encoding = header >> 30;
    const int ps = pixelSize();
    const int ures = res.u(), vres = res.v();
    const Ptex::DataType dt = Ptex::DataType(dataType);
    if (pos > bytes.size() || size > bytes.size() - pos || (encoding == 3 && size < 6)) {
        error = "block past the end of the file";
        return false;
    }
    if (encoding == 0) {
        if (size != uint32_t(ps)) {
            error = "constant block size";
            return false;
        }
        for (int v = 0; v < vres; ++v)
            for (int u = 0; u < ures; ++u) std::memcpy(dst + ptrdiff_t(v) * dstride + u * ps, &bytes[pos], size_t(ps));
        return true;
    }
    if (encoding == 3) {
        const Ptex::Res tile(int8_t(bytes[pos]), int8_t(bytes[pos + 1]));
        const uint32_t tileHeaderSize = u32(pos + 2);
        const int ntu = res.ntilesu(tile), ntv = res.ntilesv(tile);
        std::vector<uint8_t> words;
        if (!inflateAt(pos + 6, tileHeaderSize, uint64_t(ntu) * uint64_t(ntv) * 4, words)) {
            error = "tile header";
            return false;
        }
        uint64_t tilePos = pos + 6 + tileHeaderSize;
        for (int t = 0; t < ntu * ntv; ++t) {
            uint32_t word;
            std::memcpy(&word, &words[size_t(t) * 4], 4);
            if ((word >> 30) == 3) {
                error = "nested tiles";
                return false;
            }
            const int tu = t % ntu, tv = t / ntu;
            uint8_t* origin = dst + ptrdiff_t(tv) * tile.v() * dstride + ptrdiff_t(tu) * tile.u() * ps;
            if (!decodeBlock(tilePos, word, tile, origin, dstride, error)) return false;
            tilePos += word & 0x3fffffffu;
        }
        if (tilePos - pos != size) {
            error = "tiled block size";
            return false;
        }
        return true;
    }
    std::vector<uint8_t> planar;
    if (!inflateAt(pos, size, uint64_t(ps) * uint64_t(ures) * uint64_t(vres), planar)) {
        error = "face block";
        return false;
    }
    if (encoding == 2) PtexUtils::decodeDifference(planar.data(), int(planar.size()), dt);
    PtexUtils::interleave(planar.data(), ures * Ptex::DataSize(dt), ures, vres, dst, dstride, dt, nchannels);
    return true;
}

bool WrittenFile::decodeFace(int level, int index, Ptex::Res res, std::vector<uint8_t>& texels,
                             std::string& error) const
{
    const Level& l = levels[size_t(level)];
    texels.assign(size_t(pixelSize()) * size_t(res.size()), 0);
    return decodeBlock(l.blockPos[size_t(index)], l.headers[size_t(index)], res, texels.data(), res.u() * pixelSize(),
                       error);
}

bool WrittenFile::decodeBlockAt(uint64_t pos, uint32_t header, Ptex::Res res, std::vector<uint8_t>& texels,
                                std::string& error) const
{
    texels.assign(size_t(pixelSize()) * size_t(res.size()), 0);
    return decodeBlock(pos, header, res, texels.data(), res.u() * pixelSize(), error);
}

Ptex::Res WrittenFile::tileRes(int level, int index, Ptex::Res res) const
{
    const Level& l = levels[size_t(level)];
    if ((l.headers[size_t(index)] >> 30) != 3) return res;
    const uint64_t pos = l.blockPos[size_t(index)];
    return Ptex::Res(int8_t(bytes[pos]), int8_t(bytes[pos + 1]));
}

WrittenFile loadWrittenFile(const std::string& path)
{
    WrittenFile file;
    std::string error;
    EXPECT_TRUE(file.load(path, error)) << path << ": " << error;
    return file;
}

}  // namespace tarsk::test
