// Decoding of what a Ptex file stores in its levels: a level's table of face blocks, a face
// image or tile (constant, zipped, or zipped after difference coding, planar by channel) into
// interleaved texels, and a tiled face's directory of tiles. Every size and encoding is checked
// before it is used. Blocks are made through the residency, so that their memory is counted
// and room is made for them first.
#pragma once

#include "PtexBlock.h"
#include "PtexFileIndex.h"
#include "PtexIO.h"
#include "PtexResidency.h"

PTEX_NAMESPACE_BEGIN

struct BlockLocation {
    PtexIO::FaceDataHeader header;
    uint64_t pos = 0;
};

// The block table of stored level `level`, as an index block: the data header of every block
// of the level and, for every 64th, its position in the file.
Block* readLevelIndex(ByteSource& file, const FileIndex& index, int level, DataResidency& residency, ReadError& error);
// Where block `position` of the level lies.
BlockLocation locateInLevel(const Block& levelIndex, uint32_t position);
uint32_t levelIndexCount(const Block& levelIndex);

// Decodes the block at `location` of resolution `res` (level0: full-resolution data) into a
// new block, not yet published. Null with the error on failure.
Block* decodeStoredBlock(ByteSource& file, const FileIndex& index, const BlockLocation& location, Res res, bool level0,
                         DataResidency& residency, ReadError& error);

PTEX_NAMESPACE_END
