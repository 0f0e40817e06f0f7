// Inflating one zip block (a complete zlib stream) into a buffer of exactly known size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PtexVersion.h"

PTEX_NAMESPACE_BEGIN

namespace PtexZip {

// True only if src holds a valid zlib stream that inflates to exactly dstSize bytes. Bytes
// after the end of the stream are ignored.
bool inflateExact(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize);

}  // namespace PtexZip

PTEX_NAMESPACE_END
