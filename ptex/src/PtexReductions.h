// Dynamic reductions of a face: computed from the next larger resolution (obtained through the
// texture, so recursively reduced, read or tiled as needed) when a request matches no stored
// level. The result is published by the caller; these functions only compute it.
#pragma once

#include "PtexBlock.h"
#include "PtexFileIndex.h"
#include "PtexResidency.h"
#include "Ptexture.h"

PTEX_NAMESPACE_BEGIN

struct ReductionSource {
    PtexTexture& texture;     // where source data come from (handles, released here)
    PtexFaceData* errorFace;  // what the texture answers for data that cannot be had
    const FileIndex& index;
    DataResidency& residency;  // makes the blocks
    TileLoader* loader;        // loads the tiles of tiled results
};

// The reduction of face `faceid` to `res` (smaller than its resolution in at least one
// direction), not yet published; null when its source cannot be had or memory runs out.
Block* computeReduction(const ReductionSource& source, int faceid, Res res);
// Tile `tile` of a tiled reduction, from the source tiles that cover it.
Block* computeReducedTile(const ReductionSource& source, const TileDirectory& table, int tile);

PTEX_NAMESPACE_END
