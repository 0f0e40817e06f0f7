// The JSON manifest of a Ptex texture: header, meta data, face info, a hash of every
// isotropic reduction level, the values of the small levels and point samples, in the
// schema of the reference manifests (floats as "%.9g", non-finite values as strings).
#pragma once

#include <Ptexture.h>

#include <string>

namespace tarsk::ptexinfo {

std::string manifestJson(PtexTexture& texture);

// A JSON string literal for arbitrary bytes (UTF-8 passes through).
std::string jsonString(const std::string& text);

}  // namespace tarsk::ptexinfo
