// Dynamic reductions of a face: computed from the next larger resolution (obtained through the
// texture, so recursively reduced, read or tiled as needed) when a request matches no stored
// level. The result is published by the caller; these functions only compute it.
#pragma once

#include "PtexFaceBlock.h"
#include "PtexFileIndex.h"
#include "Ptexture.h"

#include <memory>

PTEX_NAMESPACE_BEGIN

class PtexReader;

struct ReductionSource {
    PtexTexture& texture;     // where source data come from (handles, released here)
    PtexFaceData* errorFace;  // what the texture answers for data that cannot be had
    const FileIndex& index;
    PtexReader* owner;  // owner of the blocks made
};

// The reduction of face `faceid` to `res` (smaller than its resolution in at least one
// direction); null when its source cannot be had or memory runs out.
std::unique_ptr<FaceBlock> computeReduction(const ReductionSource& source, int faceid, Res res);
// Tile `tile` of a tiled reduction, from the source tiles that cover it.
std::unique_ptr<FaceBlock> computeReducedTile(const ReductionSource& source, const TileTable& table, int tile);

PTEX_NAMESPACE_END
