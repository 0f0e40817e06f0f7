// OrigFace: what the polygon topology keeps per original face: where its vertex indices start,
// its centre and its first Ptex face id. OrigPolyMesh::getFace answers a pointer to one.
#pragma once

#include <cstdint>

struct OrigFace {
    // The face's first vertex index inside "origFaces"; its d indices follow in stored order,
    // never reversed. Points into the host's list.
    const int32_t* vertexIndices = nullptr;
    // Mean of the face's corner positions, summed in stored order and divided by d.
    float center[3] = {0.0f, 0.0f, 0.0f};
    // The face's Ptex face id when it has 4 corners, else the id of its sub-face 0; sub-face k
    // (one per corner, in getVertex numbering) has id ptexFaceId + k.
    int32_t ptexFaceId = 0;
};
