// PtexMetaMesh: the base mesh that many Ptex files carry in their meta data, as painting tools
// write it: PtexFaceVertCounts (int32, corners per face), PtexFaceVertIndices (int32, the corners'
// vertex indices, face after face) and PtexVertPositions (float, x y z per vertex). tarsk-render
// renders a Ptex file on it; ptex-info --mesh writes it as OBJ.
#pragma once

#include "ObjMesh.h"

#include <string>

namespace tarsk::host {

struct PtexMetaMesh {
    ObjMesh mesh;
    bool quadType = true;  // the file's mesh type: quad (faces of 4 corners, others split) or triangle
    int numPtexFaces = 0;
};

// Opens the Ptex file at `path` and reads its stored mesh. Throws HostError naming the file for a
// file that cannot be read, a file without the three keys (the message names them), keys of the
// wrong type, and a mesh that does not fit together or does not account for exactly the file's
// faces: a triangle-type file needs one triangle per Ptex face; a quad-type file one Ptex face per
// 4-corner face and one per corner of every other face, in face order.
PtexMetaMesh readPtexMetaMesh(const std::string& path);

}  // namespace tarsk::host
