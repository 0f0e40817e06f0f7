// DemoMeshes: the generated meshes of tarsk-render's built-in demo: a curved panel of quads with
// a pentagon, a hexagon and a triangle; a UV sphere of quads whose poles are rings of triangles;
// a torus of triangles; and a cube. All are wound so that their faces face outwards.
#pragma once

#include "ObjMesh.h"

namespace tarsk::render {

// A 4 x 3 grid of cells bent into a shallow arc, 2.2 wide and 1.65 high (1.95 under its arched
// top), facing +z. Two cells of
// the middle row are a pentagon and a triangle, two of the top row a hexagon; the corners in the
// middle of their long sides are moved out, so that every n-gon corner is a proper corner.
host::ObjMesh demoPanel();

// The unit sphere: `segments` quads around, `rings` bands from pole to pole, the two polar bands
// triangles (which a quad-type Ptex file splits into sub-faces).
host::ObjMesh demoSphere(int segments, int rings);

// A torus around the y axis with ring radius `major` and tube radius `minor`, each quad of the
// `around` x `tube` grid split into two triangles.
host::ObjMesh demoTorus(double major, double minor, int around, int tube);

// The unit cube centred at the origin.
host::ObjMesh demoCube();

// Turns every position about the x axis by `degrees` (object space; scenes turn only about y).
void rotateAboutX(host::ObjMesh& mesh, double degrees);

}  // namespace tarsk::render
