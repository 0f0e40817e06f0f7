// The human-readable report of ptex-info: header, optionally per-face info and meta data.
#pragma once

#include <Ptexture.h>

#include <cstdio>

namespace tarsk::ptexinfo {

void printHeader(PtexTexture& texture, FILE* out);
void printFaces(PtexTexture& texture, FILE* out);
void printMetaData(PtexTexture& texture, FILE* out);

}  // namespace tarsk::ptexinfo
