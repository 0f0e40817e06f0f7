// Exact-size inflate over zlib, with a stream and scratch buffers kept per thread.

#include "PtexZip.h"

#include <zlib.h>

#include <climits>
#include <new>

PTEX_NAMESPACE_BEGIN

namespace PtexZip {

namespace {

// Scratch buffers up to this size stay with the thread between blocks (a tile's image is at
// most 64 KB); larger ones are given back when the scope ends.
constexpr size_t kKeptBytes = 256 * 1024;

struct Buffer {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;

    uint8_t* reserve(size_t size) noexcept
    {
        if (size == 0) size = 1;
        if (capacity < size) {
            bytes.reset(new (std::nothrow) uint8_t[size]);
            capacity = bytes ? size : 0;
        }
        return bytes.get();
    }
    void trim() noexcept
    {
        if (capacity > kKeptBytes) {
            bytes.reset();
            capacity = 0;
        }
    }
};

}  // namespace

struct ThreadInflater {
    z_stream stream{};
    bool ready = false;  // stream initialised
    bool busy = false;   // lent to a scope
    Buffer zip, image;

    ~ThreadInflater()
    {
        if (ready) inflateEnd(&stream);
    }
    // The stream at the start of a new zlib stream.
    bool start() noexcept
    {
        if (ready) return inflateReset(&stream) == Z_OK;
        stream = z_stream{};
        ready = inflateInit(&stream) == Z_OK;
        return ready;
    }
};

namespace {

ThreadInflater& threadInflater() noexcept
{
    thread_local ThreadInflater inflater;
    return inflater;
}

}  // namespace

Inflater::Inflater() noexcept : _thread(&threadInflater())
{
    if (_thread->busy) {
        _thread = nullptr;
        _own.reset(new (std::nothrow) ThreadInflater);
    } else {
        _thread->busy = true;
    }
}

Inflater::~Inflater()
{
    if (!_thread) return;
    _thread->zip.trim();
    _thread->image.trim();
    _thread->busy = false;
}

bool Inflater::inflateExact(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize) noexcept
{
    ThreadInflater* state = _thread ? _thread : _own.get();
    if (!state || srcSize > UINT_MAX || dstSize > UINT_MAX || !state->start()) return false;
    z_stream& zs = state->stream;
    zs.next_in = const_cast<Bytef*>(src);
    zs.avail_in = uInt(srcSize);
    uint8_t spare;
    zs.next_out = dstSize ? dst : &spare;
    zs.avail_out = dstSize ? uInt(dstSize) : 0;
    const int ret = inflate(&zs, Z_FINISH);
    // Z_STREAM_END with a full buffer is the only success: anything else is a corrupt stream,
    // a stream cut short, or one that would produce more than expected.
    return ret == Z_STREAM_END && zs.total_out == dstSize;
}

uint8_t* Inflater::zipBuffer(size_t size) noexcept
{
    ThreadInflater* state = _thread ? _thread : _own.get();
    return state ? state->zip.reserve(size) : nullptr;
}

uint8_t* Inflater::imageBuffer(size_t size) noexcept
{
    ThreadInflater* state = _thread ? _thread : _own.get();
    return state ? state->image.reserve(size) : nullptr;
}

bool inflateExact(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize)
{
    Inflater inflater;
    return inflater.inflateExact(src, srcSize, dst, dstSize);
}

}  // namespace PtexZip

PTEX_NAMESPACE_END
