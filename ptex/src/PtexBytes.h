// Byte buffers for the reader: out of memory is an answer (null), never an exception, because
// the reader reports it as a read error of the texture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "PtexVersion.h"

PTEX_NAMESPACE_BEGIN

// `size` bytes (at least one, so that an empty buffer is not mistaken for a failure), or null.
inline std::unique_ptr<uint8_t[]> allocateBytes(size_t size)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size ? size : 1]);
}

PTEX_NAMESPACE_END
