// How the writer turns texels into stored bytes: little-endian field output, zlib blocks,
// and face data blocks (planar layout, difference coding, tiling of large images).
// Shared by the full-file writer and the incremental writer.
#pragma once

#include "Ptexture.h"

#include <cstddef>
#include <cstdint>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace PtexWriterEncoding {

using Bytes = std::vector<uint8_t>;

// zlib settings: the full writer compresses at level 6, incremental edit records are stored
// (level 0) so that saving an edit stays fast.
constexpr int kFullCompression = 6;
constexpr int kEditCompression = 0;

// Face data header word: block size in bits 0..29, encoding in bits 30..31.
enum Encoding : uint32_t { enc_constant = 0, enc_zipped = 1, enc_diffzipped = 2, enc_tiled = 3 };
constexpr uint32_t kMaxBlockSize = (1u << 30) - 1;

inline uint32_t headerWord(uint32_t blocksize, Encoding encoding) { return blocksize | (uint32_t(encoding) << 30); }
inline uint32_t blockSizeOf(uint32_t word) { return word & kMaxBlockSize; }

void putU8(Bytes& out, uint8_t value);
void putU16(Bytes& out, uint16_t value);
void putU32(Bytes& out, uint32_t value);
void putI32(Bytes& out, int32_t value);
void putU64(Bytes& out, uint64_t value);
void putBytes(Bytes& out, const void* data, size_t size);
void putFaceInfo(Bytes& out, const FaceInfo& info);  // the 20-byte on-disk record

// Appends one complete zlib stream of `data` to `out`. Output is produced in 16384-byte
// pieces, which fixes where stored (level 0) deflate blocks are cut.
bool deflateBlock(const void* data, size_t size, int level, Bytes& out);

// Tile resolution for an image of `res` with `pixelSize` bytes per texel: about 64 KiB of
// uncompressed data per tile; `res` itself when the image is not tiled (under 131072 bytes).
Res tileResFor(Res res, int pixelSize);

// One encoded face image: its header word and the bytes of its block.
struct Block {
    uint32_t header = 0;
    Bytes data;
};

enum class EncodeResult { encoded, zlibFailed, blockTooLarge };

// Encodes an interleaved image (rows `stride` bytes apart) as one face data block, tiled when
// large; constant tiles are stored as one raw texel. Fails when zlib fails or the block would
// not fit the 30-bit size field.
EncodeResult encodeImage(const void* texels, int stride, Res res, DataType dt, int nchannels, int level, Block& out);

// The writer's error message for a failed encoding.
const char* encodeFailureMessage(EncodeResult result);

}  // namespace PtexWriterEncoding

PTEX_NAMESPACE_END
