// Exact-size inflate over zlib.

#include "PtexZip.h"

#include <zlib.h>

#include <climits>

PTEX_NAMESPACE_BEGIN

namespace PtexZip {

bool inflateExact(const uint8_t* src, size_t srcSize, uint8_t* dst, size_t dstSize)
{
    if (srcSize > UINT_MAX || dstSize > UINT_MAX) return false;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(src);
    zs.avail_in = uInt(srcSize);
    uint8_t spare;
    zs.next_out = dstSize ? dst : &spare;
    zs.avail_out = dstSize ? uInt(dstSize) : 0;
    int ret = inflate(&zs, Z_FINISH);
    // Z_STREAM_END with a full buffer is the only success: anything else is a corrupt stream,
    // a stream cut short, or one that would produce more than expected.
    bool ok = ret == Z_STREAM_END && zs.total_out == dstSize;
    inflateEnd(&zs);
    return ok;
}

}  // namespace PtexZip

PTEX_NAMESPACE_END
