// TexelSource: what ptex-bake fills texels from: an image sampled through the mesh's texture
// coordinates (bilinear, wrapping), or a built-in procedural evaluated at the object-space
// position ("checker", "noise", "gradient"), which shows seams and filtering when rendered.
#pragma once

#include "ImageFile.h"
#include "Vec3.h"

#include <array>
#include <memory>
#include <string>

namespace tarsk::bake {

class TexelSource {
public:
    virtual ~TexelSource() = default;
    // Linear RGBA at a surface point given by its object-space position and texture coordinates.
    virtual void sample(const host::Vec3& position, const std::array<double, 2>& uv, float rgba[4]) const = 0;
    // True when the source reads texture coordinates (the mesh must have them).
    virtual bool needsUvs() const = 0;
};

// Smooth value noise in [0, 1) at `p`; each seed gives another field.
double valueNoise(const host::Vec3& p, int seed = 0);

// The names accepted by makeProcedural, for messages.
const char* proceduralNames();

// A procedural scaled to the box [lo, hi] of the mesh; throws host::HostError for unknown names.
std::unique_ptr<TexelSource> makeProcedural(const std::string& name, const host::Vec3& lo, const host::Vec3& hi);

// Samples `image` at (u, v), v = 0 at the bottom row as OBJ texture coordinates have it.
std::unique_ptr<TexelSource> makeImageSource(Image image);

}  // namespace tarsk::bake
