// PtexFileScene: what tarsk-render shows for a Ptex file given in place of a scene: the mesh the
// file stores in its meta data, textured with the file through the chosen filter, smooth shaded,
// lit from above the camera, and framed by a camera that looks at the mesh's front from a
// three-quarter view (straight onto a mostly flat mesh, from the side its faces face).
#pragma once

#include "Scene.h"

#include <string>

namespace tarsk::render {

// True for a path ending in ".ptx" (any case).
bool isPtexFilePath(const std::string& path);

// The names that --filter takes, for messages: "point, bilinear, ...".
const char* filterNames();

// Builds the scene. `filterName` is one of filterNames(). Throws host::HostError for an unknown
// filter name and for a file that cannot be read or holds no usable mesh (see readPtexMetaMesh).
host::Scene ptexFileScene(const std::string& ptexPath, const std::string& filterName);

}  // namespace tarsk::render
