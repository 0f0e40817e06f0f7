// PtexBaker: writes a Ptex file for a polygon mesh with our PtexWriter: the face layout and
// adjacency of PtexFaceLayout, texels filled from a TexelSource at each texel's surface point.
// Used by ptex-bake and by tarsk-render's built-in demo.
#pragma once

#include "ObjMesh.h"
#include "PtexFaceLayout.h"
#include "TexelSource.h"

#include <string>
#include <vector>

namespace tarsk::bake {

enum class TexelType { uint8, uint16, half, float32 };

struct BakeOptions {
    int resLog2 = 5;  // log2 of a whole face's texels per side; sub-faces get one level less
    TexelType type = TexelType::uint8;
    bool alpha = false;     // write a fourth channel, the alpha channel
    bool adjacency = true;  // false writes every face without neighbours, to show unblended seams
};

struct BakeReport {
    bool quadType = true;
    int numFaces = 0;
    std::vector<std::string> warnings;
};

// Parses "uint8", "uint16", "half", "float"; throws host::HostError otherwise.
TexelType parseTexelType(const std::string& name);

// Bakes and writes `outPath`. Throws host::HostError when the source needs texture coordinates
// the mesh lacks, for a resolution outside 0 .. 12, and when the writer reports an error.
BakeReport bakePtex(const ObjMesh& mesh, const TexelSource& source, const BakeOptions& options,
                    const std::string& outPath);

}  // namespace tarsk::bake
