// The neighbourhood-constant flag the writer sets on constant faces whose every neighbour
// around every vertex is constant with the same value. Filters use it as a shortcut, so it
// must never be set where a differing face touches the face.
#pragma once

#include "Ptexture.h"

#include <cstdint>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace PtexWriterFlags {

// Sets FaceInfo::flag_nbconstant on the faces of `faces` that qualify (and clears it on the
// others). `constData` holds `pixelSize` bytes per face. Adjacent ids must be -1 or valid.
void setNeighborhoodConstant(std::vector<FaceInfo>& faces, const std::vector<uint8_t>& constData, int pixelSize,
                             MeshType meshType, BorderMode uBorderMode, BorderMode vBorderMode);

}  // namespace PtexWriterFlags

PTEX_NAMESPACE_END
