// How the writer turns texels into stored bytes: little-endian field output, zlib blocks,
// and face data blocks (planar layout, difference coding, tiling of large images).
// Shared by the full-file writer and the incremental writer.
#pragma once

#include "Ptexture.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace PtexWriterEncoding {

// An allocator whose resize leaves new bytes uninitialised: the writer's buffers are always
// filled before they are read, and clearing them for every face would cost more than the
// compression of a small face.
template <typename T>
struct UninitialisedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <typename U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept
    {}
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using Bytes = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

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

// One zlib stream state kept for many blocks: each block is a complete zlib stream, made
// after a reset instead of a fresh init, which gives the same bytes without allocating and
// clearing the compressor's tables anew.
class Deflater {
public:
    explicit Deflater(int level) : _level(level) {}
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Appends one complete zlib stream of `data` to `out`. Output is produced in 16384-byte
    // pieces, which fixes where stored (level 0) deflate blocks are cut.
    bool compress(const void* data, size_t size, Bytes& out);

private:
    int _level;
    bool _ready = false;
    z_stream _stream{};
};

// One complete zlib stream of `data` appended to `out`, through a deflater of its own.
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

// The writer's error message for a failed encoding.
const char* encodeFailureMessage(EncodeResult result);

// Encodes face images as face data blocks with buffers and a deflater reused from face to
// face, so that a writer's memory is set by its largest face, not by the number of faces.
class FaceEncoder {
public:
    FaceEncoder(DataType dt, int nchannels, int level);

    // Encodes an interleaved image (rows `stride` bytes apart) as one face data block, tiled
    // when large; constant tiles are stored as one raw texel. Fails when zlib fails or the
    // block would not fit the 30-bit size field. `out.data` is replaced.
    EncodeResult encode(const void* texels, int stride, Res res, Block& out);

private:
    EncodeResult encodeSingle(const void* texels, int stride, Res res, Block& out);

    DataType _dataType;
    int _nchannels;
    int _pixelSize;
    Deflater _deflater;
    Bytes _planar;
    Bytes _tileHeaders;
    Bytes _zippedTileHeaders;
    Bytes _tileData;
    Block _tile;
};

}  // namespace PtexWriterEncoding

PTEX_NAMESPACE_END
