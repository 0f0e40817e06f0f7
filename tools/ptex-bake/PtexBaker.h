// PtexBaker: writes a Ptex file for a polygon mesh with our PtexWriter: the face layout and
// adjacency of PtexFaceLayout, texels filled from a TexelSource at each texel's surface point,
// at one resolution for all faces or at one that follows each face's size. Texels are filled
// on all cores and written in face order, so the file does not depend on the thread count.
// Used by ptex-bake and by tarsk-render's built-in demo.
#pragma once

#include "ObjMesh.h"
#include "PtexFaceLayout.h"
#include "TexelSource.h"

#include <Ptexture.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tarsk::bake {

enum class TexelType { uint8, uint16, half, float32 };

struct BakeOptions {
    // log2 of a whole face's texels per side; sub-faces get one level less. With a texel
    // density, the largest log2 any face side gets.
    int resLog2 = 5;
    // Texels per unit length; 0 gives every face resLog2 (sub-faces one less).
    double texelDensity = 0;
    int threads = 0;  // 0: all cores; never more than the cores there are
    TexelType type = TexelType::uint8;
    bool alpha = false;     // write a fourth channel, the alpha channel
    bool adjacency = true;  // false writes every face without neighbours, to show unblended seams
    // Called from the writing thread now and then with the faces written so far and the total.
    std::function<void(size_t done, size_t total)> progress;
};

struct BakeReport {
    bool quadType = true;
    int numFaces = 0;
    std::vector<std::string> warnings;
};

// Parses "uint8", "uint16", "half", "float"; throws host::HostError otherwise.
TexelType parseTexelType(const std::string& name);

// The resolution a face gets. With a texel density, each side's texel count is its mean
// length times the density, rounded to a power of two in log2 and clamped to 0 .. resLog2;
// triangles take the mean of their three sides for both.
Ptex::Res faceResolution(const PtexFaceRecord& face, const BakeOptions& options);

// Bakes and writes `outPath`. Throws host::HostError when the source needs texture coordinates
// the mesh lacks, for a resolution outside 0 .. 12, a texel density that is
// negative or not finite, and when the writer reports an error.
BakeReport bakePtex(const ObjMesh& mesh, const TexelSource& source, const BakeOptions& options,
                    const std::string& outPath);

}  // namespace tarsk::bake
