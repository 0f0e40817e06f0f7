// Inflating zip blocks (complete zlib streams) into buffers of exactly known size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PtexVersion.h"

PTEX_NAMESPACE_BEGIN

namespace PtexZip {

struct PooledInflater;

// An inflater for one scope, taken from a process-wide pool and given back at its end: a zlib
// stream kept between blocks (reset rather than made anew: a new stream allocates about 7 KB of
// state, which dominated the decoding of small faces) and two scratch buffers, for a block's
// stored bytes and its inflated image, kept while they are small. Not counted in any cache's
// memory: the pool holds at most 16 inflaters of at most 263 KB each.
class Inflater {
public:
    Inflater() noexcept;
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // True only if src holds a valid zlib stream that inflates to exactly dstSize bytes. Bytes
    // after the end of the stream are ignored.
    bool inflateExact(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize) noexcept;
    // Buffers of at least `size` bytes, valid until the scope ends or the same buffer is asked
    // for again; null when out of memory.
    uint8_t* zipBuffer(size_t size) noexcept;
    uint8_t* imageBuffer(size_t size) noexcept;

private:
    PooledInflater* _pooled;  // null when out of memory
};

}  // namespace PtexZip

PTEX_NAMESPACE_END
