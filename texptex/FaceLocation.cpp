#include "FaceLocation.h"

#include <OrigFace.h>
#include <OrigMesh.h>

namespace {

Vec3f corner(const OrigMesh& mesh, int32_t t, int k) noexcept
{
    return toVec3f(mesh.getVertex(t, k));
}

// A render triangle that is half of a quad: the frame starts at the quad corner opposite the one
// the triangle lacks, so that the triangle's two edges from there are edges of the quad.
void locateInQuad(const OrigMesh& mesh, const OrigFace& face, const int32_t* faces, int32_t t, FaceFrame& frame) noexcept
{
    const int32_t* tri = faces + 3 * static_cast<int64_t>(t);
    int missing = -1;
    for (int i = 0; i < 4 && missing < 0; ++i) {
        const int32_t v = face.vertexIndices[i];
        if (v != tri[0] && v != tri[1] && v != tri[2])
            missing = i;
    }
    // A quad with a repeated vertex can have all four corners on the triangle. Take corner 3 as
    // the missing one then, as for the first triangle (0, 1, 2) of the quad's fan, so the search
    // stays within the quad and the choice is the same on every evaluation.
    if (missing < 0)
        missing = 3;
    int c = (missing + 2) % 4;
    mesh.mapCorner(t, c);
    frame.faceId = face.ptexFaceId;
    frame.corner = c;
    frame.origin = corner(mesh, t, c);
    frame.edge1 = corner(mesh, t, (c + 1) % 4) - frame.origin;
    frame.edge2 = corner(mesh, t, (c + 3) % 4) - frame.origin;
}

// An n-gon (or a triangle) of a quad-type file: one sub-face per corner k, the quad from corner k
// over the midpoint of the edge to the next corner, the face centre and the midpoint of the edge
// from the previous corner. The tests are inclusive and run in increasing k, so a point on a line
// between two sub-faces goes to the lower-numbered one, and a point outside all of them to the last.
void locateInSubFace(const OrigMesh& mesh, const OrigFace& face, int32_t t, int d, Vec3f q, FaceFrame& frame) noexcept
{
    const Vec3f centre{face.center[0], face.center[1], face.center[2]};
    Vec3f a[4];
    int k = 0;
    for (;; ++k) {
        const Vec3f vk = corner(mesh, t, k);
        a[0] = vk;
        a[1] = (corner(mesh, t, (k + 1) % d) + vk) * 0.5f;
        a[2] = centre;
        a[3] = (corner(mesh, t, (k + d - 1) % d) + vk) * 0.5f;
        if (k == d - 1 || inQuad(q, a[0], a[1], a[2], a[3]))
            break;
    }
    // The sub-face is split along a1-a3 into the half at the face corner (c = 0) and the half at
    // the centre (c = 2).
    const int c = inTriangle(q, a[0], a[1], a[3]) ? 0 : 2;
    frame.faceId = face.ptexFaceId + k;
    frame.corner = c;
    frame.origin = a[c];
    frame.edge1 = a[(c + 1) % 4] - frame.origin;
    frame.edge2 = a[(c + 3) % 4] - frame.origin;
}

}  // namespace

bool locateFace(const OrigMesh& mesh, bool quadFile, const int32_t* faces, int32_t t, Vec3f q,
                FaceFrame& frame) noexcept
{
    if (!quadFile) {
        frame.faceId = t;
        frame.corner = 0;
        frame.origin = corner(mesh, t, 0);
        frame.edge1 = corner(mesh, t, 1) - frame.origin;
        frame.edge2 = corner(mesh, t, 2) - frame.origin;
        return true;
    }
    const int d = mesh.getFaceDegree(t);
    const auto* face = static_cast<const OrigFace*>(mesh.getFace(t));
    if (d == 4)
        locateInQuad(mesh, *face, faces, t, frame);
    else if (d >= 3)
        locateInSubFace(mesh, *face, t, d, q, frame);
    else
        return false;
    return true;
}
