// Face data encoding of the writer: planar copy, difference chain for the integer types, zlib
// through one reused stream state, and the tile split that keeps each tile near 64 KiB of
// decoded data.

#include "PtexWriterEncoding.h"

#include "PtexUtils.h"

#include <climits>
#include <cstdint>
#include <cstring>

PTEX_NAMESPACE_BEGIN

namespace PtexWriterEncoding {

void putU8(Bytes& out, uint8_t value) { out.push_back(value); }

void putU16(Bytes& out, uint16_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void putU32(Bytes& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(value >> shift));
}

void putI32(Bytes& out, int32_t value) { putU32(out, uint32_t(value)); }

void putU64(Bytes& out, uint64_t value)
{
    for (int shift = 0; shift < 64; shift += 8) out.push_back(uint8_t(value >> shift));
}

void putBytes(Bytes& out, const void* data, size_t size)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

void putFaceInfo(Bytes& out, const FaceInfo& info)
{
    putU8(out, uint8_t(info.res.ulog2));
    putU8(out, uint8_t(info.res.vlog2));
    putU8(out, info.adjedges);
    putU8(out, info.flags);
    for (int e = 0; e < 4; ++e) putI32(out, info.adjfaces[e]);
}

Deflater::~Deflater()
{
    if (_ready) deflateEnd(&_stream);
}

bool Deflater::compress(const void* data, size_t size, Bytes& out)
{
    constexpr size_t kChunk = 16384;
    if (size > UINT32_MAX) return false;
    if (_ready) {
        if (deflateReset(&_stream) != Z_OK) return false;
    } else {
        _stream = z_stream{};
        if (deflateInit2(&_stream, _level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
        _ready = true;
    }
    _stream.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    _stream.avail_in = uInt(size);
    int status = Z_OK;
    while (status == Z_OK) {
        const size_t used = out.size();
        out.resize(used + kChunk);
        _stream.next_out = out.data() + used;
        _stream.avail_out = uInt(kChunk);
        status = deflate(&_stream, Z_FINISH);
        out.resize(used + kChunk - _stream.avail_out);
        // With Z_FINISH and fresh output space zlib always makes progress; Z_BUF_ERROR here
        // would mean a broken stream state.
    }
    return status == Z_STREAM_END;
}

bool deflateBlock(const void* data, size_t size, int level, Bytes& out)
{
    Deflater deflater(level);
    return deflater.compress(data, size, out);
}

Res tileResFor(Res res, int pixelSize)
{
    const uint64_t bytes = uint64_t(pixelSize) << (res.ulog2 + res.vlog2);
    const uint64_t units = bytes / 65536;
    const int t = units <= 1 ? 0 : int(PtexUtils::floor_log2(uint32_t(units > 0xffffffffu ? 0xffffffffu : units)));
    if (t == 0) return res;
    const int m = res.ulog2 + res.vlog2 - t;
    // The u size is chosen first and v takes the rest, so faces with a short side get more,
    // smaller tiles than the 64 KiB target.
    int tu = PtexUtils::min((m + 1) / 2, int(res.ulog2));
    int tv = PtexUtils::min(m - tu, int(res.vlog2));
    if (tu < 0) tu = 0;
    if (tv < 0) tv = 0;
    return Res(int8_t(tu), int8_t(tv));
}

const char* encodeFailureMessage(EncodeResult result)
{
    // A block size must fit the 30 bits of its header word.
    return result == EncodeResult::blockTooLarge ? "PtexWriter error: invalid face resolution"
                                                 : "PtexWriter error: data compression internal error";
}

FaceEncoder::FaceEncoder(DataType dt, int nchannels, int level)
    : _dataType(dt), _nchannels(nchannels), _pixelSize(DataSize(dt) * nchannels), _deflater(level)
{}

// One untiled, non-constant image: planar copy, difference chain (integer types), zlib.
EncodeResult FaceEncoder::encodeSingle(const void* texels, int stride, Res res, Block& out)
{
    const int valueSize = DataSize(_dataType);
    const int ures = res.u(), vres = res.v();
    _planar.resize(size_t(_pixelSize) * size_t(ures) * size_t(vres));
    PtexUtils::deinterleave(texels, stride, ures, vres, _planar.data(), ures * valueSize, _dataType, _nchannels);
    const bool differenced = _dataType == dt_uint8 || _dataType == dt_uint16;
    if (differenced) PtexUtils::encodeDifference(_planar.data(), int(_planar.size()), _dataType);
    out.data.clear();
    if (!_deflater.compress(_planar.data(), _planar.size(), out.data)) return EncodeResult::zlibFailed;
    if (out.data.size() > kMaxBlockSize) return EncodeResult::blockTooLarge;
    out.header = headerWord(uint32_t(out.data.size()), differenced ? enc_diffzipped : enc_zipped);
    return EncodeResult::encoded;
}

EncodeResult FaceEncoder::encode(const void* texels, int stride, Res res, Block& out)
{
    const Res tileRes = tileResFor(res, _pixelSize);
    if (tileRes == res) return encodeSingle(texels, stride, res, out);

    const int ntilesu = res.ntilesu(tileRes), ntilesv = res.ntilesv(tileRes);
    const int tileW = tileRes.u(), tileH = tileRes.v();
    _tileHeaders.clear();
    _tileData.clear();
    for (int tv = 0; tv < ntilesv; ++tv) {
        for (int tu = 0; tu < ntilesu; ++tu) {
            const char* origin =
                static_cast<const char*>(texels) + ptrdiff_t(stride) * tv * tileH + ptrdiff_t(tu) * tileW * _pixelSize;
            if (PtexUtils::isConstant(origin, stride, tileW, tileH, _pixelSize)) {
                // A constant tile is its one texel, uncompressed.
                putU32(_tileHeaders, headerWord(uint32_t(_pixelSize), enc_constant));
                putBytes(_tileData, origin, size_t(_pixelSize));
            } else {
                const EncodeResult result = encodeSingle(origin, stride, tileRes, _tile);
                if (result != EncodeResult::encoded) return result;
                putU32(_tileHeaders, _tile.header);
                putBytes(_tileData, _tile.data.data(), _tile.data.size());
            }
        }
    }
    _zippedTileHeaders.clear();
    if (!_deflater.compress(_tileHeaders.data(), _tileHeaders.size(), _zippedTileHeaders))
        return EncodeResult::zlibFailed;
    const uint64_t total = 6 + uint64_t(_zippedTileHeaders.size()) + _tileData.size();
    if (total > kMaxBlockSize) return EncodeResult::blockTooLarge;
    out.data.clear();
    out.data.reserve(size_t(total));
    putU8(out.data, uint8_t(tileRes.ulog2));
    putU8(out.data, uint8_t(tileRes.vlog2));
    putU32(out.data, uint32_t(_zippedTileHeaders.size()));
    putBytes(out.data, _zippedTileHeaders.data(), _zippedTileHeaders.size());
    putBytes(out.data, _tileData.data(), _tileData.size());
    out.header = headerWord(uint32_t(total), enc_tiled);
    return EncodeResult::encoded;
}

}  // namespace PtexWriterEncoding

PTEX_NAMESPACE_END
