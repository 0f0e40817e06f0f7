// Face data encoding of the writer: planar copy, difference chain for the integer types, zlib,
// and the tile split that keeps each tile near 64 KiB of decoded data.

#include "PtexWriterEncoding.h"

#include "PtexUtils.h"

#include <zlib.h>

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

bool deflateBlock(const void* data, size_t size, int level, Bytes& out)
{
    constexpr size_t kChunk = 16384;
    z_stream zs;
    std::memset(&zs, 0, sizeof(zs));
    if (deflateInit2(&zs, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    zs.avail_in = uInt(size);
    int status = Z_OK;
    while (status == Z_OK) {
        const size_t used = out.size();
        out.resize(used + kChunk);
        zs.next_out = out.data() + used;
        zs.avail_out = uInt(kChunk);
        status = deflate(&zs, Z_FINISH);
        out.resize(used + kChunk - zs.avail_out);
        // With Z_FINISH and fresh output space zlib always makes progress; Z_BUF_ERROR here
        // would mean a broken stream state.
    }
    deflateEnd(&zs);
    return status == Z_STREAM_END;
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

namespace {

// One untiled, non-constant image: planar copy, difference chain (integer types), zlib.
EncodeResult encodeSingle(const void* texels, int stride, Res res, DataType dt, int nchannels, int level, Block& out)
{
    const int valueSize = DataSize(dt);
    const int ures = res.u(), vres = res.v();
    Bytes planar(size_t(valueSize) * size_t(nchannels) * size_t(ures) * size_t(vres));
    PtexUtils::deinterleave(texels, stride, ures, vres, planar.data(), ures * valueSize, dt, nchannels);
    const bool differenced = dt == dt_uint8 || dt == dt_uint16;
    if (differenced) PtexUtils::encodeDifference(planar.data(), int(planar.size()), dt);
    out.data.clear();
    if (!deflateBlock(planar.data(), planar.size(), level, out.data)) return EncodeResult::zlibFailed;
    if (out.data.size() > kMaxBlockSize) return EncodeResult::blockTooLarge;
    out.header = headerWord(uint32_t(out.data.size()), differenced ? enc_diffzipped : enc_zipped);
    return EncodeResult::encoded;
}

}  // namespace

const char* encodeFailureMessage(EncodeResult result)
{
    // A block size must fit the 30 bits of its header word.
    return result == EncodeResult::blockTooLarge ? "PtexWriter error: invalid face resolution"
                                                 : "PtexWriter error: data compression internal error";
}

EncodeResult encodeImage(const void* texels, int stride, Res res, DataType dt, int nchannels, int level, Block& out)
{
    const int pixelSize = DataSize(dt) * nchannels;
    const Res tileRes = tileResFor(res, pixelSize);
    if (tileRes == res) return encodeSingle(texels, stride, res, dt, nchannels, level, out);

    const int ntilesu = res.ntilesu(tileRes), ntilesv = res.ntilesv(tileRes);
    const int tileW = tileRes.u(), tileH = tileRes.v();
    Bytes tileHeaders;
    Bytes tileData;
    Block tile;
    for (int tv = 0; tv < ntilesv; ++tv) {
        for (int tu = 0; tu < ntilesu; ++tu) {
            const char* origin =
                static_cast<const char*>(texels) + ptrdiff_t(stride) * tv * tileH + ptrdiff_t(tu) * tileW * pixelSize;
            if (PtexUtils::isConstant(origin, stride, tileW, tileH, pixelSize)) {
                // A constant tile is its one texel, uncompressed.
                putU32(tileHeaders, headerWord(uint32_t(pixelSize), enc_constant));
                putBytes(tileData, origin, size_t(pixelSize));
            } else {
                const EncodeResult result = encodeSingle(origin, stride, tileRes, dt, nchannels, level, tile);
                if (result != EncodeResult::encoded) return result;
                putU32(tileHeaders, tile.header);
                putBytes(tileData, tile.data.data(), tile.data.size());
            }
        }
    }
    Bytes zippedHeaders;
    if (!deflateBlock(tileHeaders.data(), tileHeaders.size(), level, zippedHeaders)) return EncodeResult::zlibFailed;
    const uint64_t total = 6 + uint64_t(zippedHeaders.size()) + tileData.size();
    if (total > kMaxBlockSize) return EncodeResult::blockTooLarge;
    out.data.clear();
    out.data.reserve(size_t(total));
    putU8(out.data, uint8_t(tileRes.ulog2));
    putU8(out.data, uint8_t(tileRes.vlog2));
    putU32(out.data, uint32_t(zippedHeaders.size()));
    putBytes(out.data, zippedHeaders.data(), zippedHeaders.size());
    putBytes(out.data, tileData.data(), tileData.size());
    out.header = headerWord(uint32_t(total), enc_tiled);
    return EncodeResult::encoded;
}

}  // namespace PtexWriterEncoding

PTEX_NAMESPACE_END
