// Decoding of the blocks a Ptex file stores: a face image or tile (constant, zipped, or zipped
// after difference coding, planar by channel) into interleaved texels, and a tiled face's
// directory of tiles. Every size and encoding is checked before it is used.
#pragma once

#include "PtexFaceBlock.h"
#include "PtexFileIndex.h"
#include "PtexIO.h"

PTEX_NAMESPACE_BEGIN

// Decodes the block at `pos` with `header` into `block`, whose resolution and level are set.
bool decodeStoredBlock(ByteSource& file, const FileIndex& index, PtexIO::FaceDataHeader header, uint64_t pos,
                       FaceBlock& block, ReadError& error);

PTEX_NAMESPACE_END
