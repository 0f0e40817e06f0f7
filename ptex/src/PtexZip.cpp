// Exact-size inflate over zlib, with streams and scratch buffers kept in a pool.

#include "PtexZip.h"

#include "PtexBytes.h"

#include <zlib.h>

#include <atomic>
#include <climits>
#include <memory>
#include <new>

PTEX_NAMESPACE_BEGIN

namespace PtexZip {

namespace {

// Scratch buffers up to this size stay with the inflater between blocks (a tile's image is at
// most 64 KB); larger ones are given back when the scope ends.
constexpr size_t kKeptBytes = 128 * 1024;

struct Buffer {
    std::unique_ptr<uint8_t[]> bytes;
    size_t capacity = 0;

    uint8_t* reserve(size_t size) noexcept
    {
        if (size == 0) size = 1;
        if (capacity < size) {
            bytes = allocateBytes(size);
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

struct PooledInflater {
    z_stream stream{};
    bool ready = false;  // stream initialised
    Buffer zip, image;

    ~PooledInflater()
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

// Inflaters kept for reuse: about as many as threads decode at once. A pool rather than
// thread_local storage: this library is linked into a plug-in that hosts dlopen, and the
// sanitizer runtime we test with reports the TLS blocks of such libraries as leaks. A static
// object, so that what it holds is freed at exit and when the plug-in is unloaded.
constexpr int kPoolSize = 16;

struct Pool {
    std::atomic<PooledInflater*> slots[kPoolSize] = {};
    ~Pool()
    {
        for (std::atomic<PooledInflater*>& slot : slots) delete slot.exchange(nullptr);
    }
};

std::atomic<PooledInflater*>* pool()
{
    static Pool inflaters;
    return inflaters.slots;
}

}  // namespace

Inflater::Inflater() noexcept : _pooled(nullptr)
{
    std::atomic<PooledInflater*>* slots = pool();
    for (int i = 0; i < kPoolSize && !_pooled; ++i) _pooled = slots[i].exchange(nullptr, std::memory_order_acquire);
    if (!_pooled) _pooled = new (std::nothrow) PooledInflater;
}

Inflater::~Inflater()
{
    if (!_pooled) return;
    _pooled->zip.trim();
    _pooled->image.trim();
    std::atomic<PooledInflater*>* slots = pool();
    for (int i = 0; i < kPoolSize; ++i) {
        PooledInflater* empty = nullptr;
        if (slots[i].compare_exchange_strong(empty, _pooled, std::memory_order_release)) return;
    }
    delete _pooled;
}

bool Inflater::inflateExact(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize) noexcept
{
    PooledInflater* state = _pooled;
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
    PooledInflater* state = _pooled;
    return state ? state->zip.reserve(size) : nullptr;
}

uint8_t* Inflater::imageBuffer(size_t size) noexcept
{
    PooledInflater* state = _pooled;
    return state ? state->image.reserve(size) : nullptr;
}

}  // namespace PtexZip

PTEX_NAMESPACE_END
