// DemoScene: the scene tarsk-render shows when it is given none. It generates its meshes (a
// curved panel of quads with a pentagon, a hexagon and a triangle, an icosphere of triangles, a
// cube), bakes their Ptex files with the same code as ptex-bake, and writes a scene file that
// places them: one panel per filter type side by side, the sphere, and a cube whose texture has alpha.
#pragma once

#include <string>

namespace tarsk::render {

// A folder for the demo's generated files: $XDG_CACHE_HOME/tarsk-demo, ~/.cache/tarsk-demo or,
// without a home, a folder under the system's temporary folder.
std::string demoCacheDir();

// Generates the demo into `dir` (created when missing) and answers the path of its scene file.
// Throws host::HostError when a file cannot be written.
std::string buildDemoScene(const std::string& dir);

}  // namespace tarsk::render
