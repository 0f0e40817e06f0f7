// DemoScene: the scene tarsk-render shows when it is given none. It generates its meshes
// (DemoMeshes), bakes their Ptex files from object-space procedurals (DemoTextures) with the same
// code as ptex-bake, and writes a scene file that places them: the same quad-type panel with
// n-gon sub-faces through the point filter and the bicubic filter side by side, and in front a
// cube whose alpha cuts holes, a sphere of quads with a fine checker running over its face edges
// and a torus of triangles through the triangle filter. Captions say which is which.
#pragma once

#include "Caption.h"

#include <string>
#include <vector>

namespace tarsk::render {

// A folder for the demo's generated files: $XDG_CACHE_HOME/tarsk-demo, ~/.cache/tarsk-demo or,
// without a home, a folder under the system's temporary folder.
std::string demoCacheDir();

// Generates the demo into `dir` (created when missing) and answers the path of its scene file.
// Throws host::HostError when a file cannot be written.
std::string buildDemoScene(const std::string& dir);

// The demo image's captions, placed for the demo's camera at any image size of its aspect ratio.
std::vector<CaptionLine> demoCaptions();

}  // namespace tarsk::render
