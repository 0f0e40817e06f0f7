#include "FaceLocation.h"

#include <OrigFace.h>
#include <OrigPolyMesh.h>
#include <OrigTriMesh.h>

#include <cstddef>

namespace {

// The corners of one original face in the numbering OrigMesh::getVertex uses: with `reverse`,
// corner 0 stays first and corner k (k > 0) is stored corner d - k.
struct FaceCorners {
    const float* vertices;   // the host's "vertices", three floats each
    const int32_t* indices;  // the face's vertex indices in stored order
    int degree;
    bool reverse;

    Vec3f operator[](int k) const noexcept
    {
        const int stored = (reverse && k != 0) ? degree - k : k;
        // 3 * index may pass INT32_MAX for large lists, so the offset is formed in pointer width.
        return toVec3f(vertices + 3 * static_cast<std::ptrdiff_t>(indices[stored]));
    }
    // Stored order to getVertex numbering; the map is its own inverse.
    int fromStored(int k) const noexcept { return (reverse && k != 0) ? degree - k : k; }
};

// A render triangle that is half of a quad: the frame starts at the quad corner opposite the one
// the triangle lacks, so that the triangle's two edges from there are edges of the quad.
void locateInQuad(const FaceCorners& corners, const OrigFace& face, const int32_t* faces, int32_t t,
                  FaceFrame& frame) noexcept
{
    const int32_t* tri = faces + 3 * static_cast<std::ptrdiff_t>(t);
    int missing = -1;
    for (int i = 0; i < 4 && missing < 0; ++i) {
        const int32_t v = face.vertexIndices[i];
        if (v != tri[0] && v != tri[1] && v != tri[2]) missing = i;
    }
    // A quad with a repeated vertex can have all four corners on the triangle. Take corner 3 as
    // the missing one then, as for the first triangle (0, 1, 2) of the quad's fan, so the search
    // stays within the quad and the choice is the same on every evaluation.
    if (missing < 0) missing = 3;
    const int c = corners.fromStored((missing + 2) % 4);
    frame.faceId = face.ptexFaceId;
    frame.corner = c;
    frame.origin = corners[c];
    frame.edge1 = corners[(c + 1) % 4] - frame.origin;
    frame.edge2 = corners[(c + 3) % 4] - frame.origin;
}

// The frame of sub-face k's half at its corner (c = 0) or at the centre (c = 2), whose quad is a.
void subFaceFrame(const OrigFace& face, int k, int c, const Vec3f a[4], FaceFrame& frame) noexcept
{
    frame.faceId = face.ptexFaceId + k;
    frame.corner = c;
    frame.origin = a[c];
    frame.edge1 = a[(c + 1) % 4] - frame.origin;
    frame.edge2 = a[(c + 3) % 4] - frame.origin;
}

// An n-gon (or a triangle) of a quad-type file: one sub-face per corner k, the quad from corner k
// over the midpoint of the edge to the next corner, the face centre and the midpoint of the edge
// from the previous corner. The tests are inclusive and run in increasing k, so a point on a line
// between two sub-faces goes to the lower-numbered one, and a point outside all of them to the last.
void locateInSubFace(const FaceCorners& corners, const OrigFace& face, Vec3f q, FaceFrame& frame) noexcept
{
    const int d = corners.degree;
    const Vec3f centre{face.center[0], face.center[1], face.center[2]};
    Vec3f a[4];
    // Each corner is read once: the midpoint from the previous corner is the one the previous
    // sub-face had to its next corner (the sum is the same either way round).
    Vec3f vk = corners[0];
    Vec3f fromPrevious = (corners[d - 1] + vk) * 0.5f;
    int k = 0;
    for (;; ++k) {
        const Vec3f next = corners[k + 1 == d ? 0 : k + 1];
        a[0] = vk;
        a[1] = (next + vk) * 0.5f;
        a[2] = centre;
        a[3] = fromPrevious;
        if (k == d - 1 || inQuad(q, a[0], a[1], a[2], a[3])) break;
        fromPrevious = a[1];
        vk = next;
    }
    // The sub-face is split along a1-a3 into the half at the face corner (c = 0) and the half at
    // the centre (c = 2).
    subFaceFrame(face, k, inTriangle(q, a[0], a[1], a[3]) ? 0 : 2, a, frame);
}

// The same search on sub-faces made beforehand: the same quads and the same solvers, so the same
// decisions; the half's map was made from the same frame. False for a degenerate half.
bool locateInPreparedSubFace(const SubFace* subFaces, int d, Vec3f centre, Vec3f q, FaceMap& map) noexcept
{
    Vec3f a[4];
    a[2] = centre;
    int k = 0;
    for (;; ++k) {
        const SubFace& s = subFaces[k];
        a[0] = s.corner;
        a[1] = s.toNext;
        a[3] = subFaces[k == 0 ? d - 1 : k - 1].toNext;
        if (k == d - 1 || inTriangle(s.lowerHalf, q, a[0], a[1], a[2]) || inTriangle(s.upperHalf, q, a[2], a[3], a[0]))
            break;
    }
    const FaceMap& half = subFaces[k].halves[inTriangle(subFaces[k].cornerHalf, q, a[0], a[1], a[3]) ? 0 : 1];
    if (half.faceId < 0) return false;
    map = half;
    return true;
}

}  // namespace

bool makeFaceMap(const FaceFrame& frame, FaceMap& map) noexcept
{
    PlanarSolver solver;
    if (!solver.init(frame.edge1, frame.edge2)) return false;
    Vec3f a, b;  // s1 = dot(a, d), s2 = dot(b, d)
    solver.linearMap(frame.edge1, frame.edge2, a, b);
    const Vec3f minusA = a * -1.0f, minusB = b * -1.0f;
    // The affine map from the frame at corner c to the unit square whose corners 0 ... 3 are
    // (0, 0), (1, 0), (1, 1), (0, 1): s1 runs from corner c to c + 1, s2 from c to c + 3.
    switch (frame.corner & 3) {
    case 0: map.uRow = a, map.vRow = b, map.u0 = 0.0f, map.v0 = 0.0f; break;
    case 1: map.uRow = minusB, map.vRow = a, map.u0 = 1.0f, map.v0 = 0.0f; break;
    case 2: map.uRow = minusA, map.vRow = minusB, map.u0 = 1.0f, map.v0 = 1.0f; break;
    default: map.uRow = b, map.vRow = minusA, map.u0 = 0.0f, map.v0 = 1.0f; break;
    }
    map.origin = frame.origin;
    map.faceId = frame.faceId;
    return true;
}

void locateFace(const OrigTriMesh& mesh, int32_t t, FaceFrame& frame) noexcept
{
    const FaceCorners corners{mesh.vertices, mesh.faceVertices + 3 * static_cast<std::ptrdiff_t>(t), 3,
                              mesh.reverse != 0};
    frame.faceId = t;
    frame.corner = 0;
    frame.origin = corners[0];
    frame.edge1 = corners[1] - frame.origin;
    frame.edge2 = corners[2] - frame.origin;
}

bool locateFace(const OrigPolyMesh& mesh, const int32_t* faces, int32_t t, Vec3f q, FaceFrame& frame) noexcept
{
    const int32_t faceIndex = mesh.faceOfTriangle(t);
    const int d = mesh.faceDegree(faceIndex);
    const OrigFace& face = mesh.faceRecord(faceIndex);
    const FaceCorners corners{mesh.vertices, face.vertexIndices, d, mesh.reverse != 0};
    if (d == 4)
        locateInQuad(corners, face, faces, t, frame);
    else if (d >= 3)
        locateInSubFace(corners, face, q, frame);
    else
        return false;
    return true;
}

FaceMap triangleFaceMap(const OrigPolyMesh* polyMesh, const OrigTriMesh* triMesh, const int32_t* faces,
                        int32_t numFaceIndices, int32_t t) noexcept
{
    FaceMap map{};
    map.faceId = FaceMap::kNoFace;
    // A "faces" list shorter than three indices per render triangle has nothing for t.
    if (3 * static_cast<int64_t>(t) + 2 >= numFaceIndices) return map;
    FaceFrame frame;
    if (triMesh) {
        locateFace(*triMesh, t, frame);
    } else {
        const int32_t faceIndex = polyMesh->faceOfTriangle(t);
        const int d = polyMesh->faceDegree(faceIndex);
        if (d != 4) {
            if (d >= 3) map.faceId = FaceMap::kSubFaceSearch;
            return map;
        }
        const OrigFace& face = polyMesh->faceRecord(faceIndex);
        locateInQuad(FaceCorners{polyMesh->vertices, face.vertexIndices, d, polyMesh->reverse != 0}, face, faces, t,
                     frame);
    }
    makeFaceMap(frame, map);
    return map;
}

void makeSubFaces(const OrigPolyMesh& mesh, int32_t faceIndex, SubFace* subFaces) noexcept
{
    const int d = mesh.faceDegree(faceIndex);
    const OrigFace& face = mesh.faceRecord(faceIndex);
    const FaceCorners corners{mesh.vertices, face.vertexIndices, d, mesh.reverse != 0};
    const Vec3f centre{face.center[0], face.center[1], face.center[2]};
    // The corners and midpoints as the per-point search forms them.
    for (int k = 0; k < d; ++k) {
        const Vec3f vk = corners[k];
        subFaces[k].corner = vk;
        subFaces[k].toNext = (corners[k + 1 == d ? 0 : k + 1] + vk) * 0.5f;
    }
    for (int k = 0; k < d; ++k) {
        SubFace& s = subFaces[k];
        const Vec3f a0 = s.corner, a1 = s.toNext, a3 = subFaces[k == 0 ? d - 1 : k - 1].toNext;
        s.lowerHalf.init(a1 - a0, centre - a0);
        s.upperHalf.init(a3 - centre, a0 - centre);
        s.cornerHalf.init(a1 - a0, a3 - a0);
        const Vec3f a[4] = {a0, a1, centre, a3};
        for (int half = 0; half < 2; ++half) {
            FaceFrame frame;
            subFaceFrame(face, k, 2 * half, a, frame);
            s.halves[half].faceId = FaceMap::kNoFace;
            makeFaceMap(frame, s.halves[half]);
        }
    }
}

bool subFaceMap(const OrigPolyMesh& mesh, int32_t t, Vec3f q, const PreparedSubFaces& prepared, FaceMap& map) noexcept
{
    const int32_t faceIndex = mesh.faceOfTriangle(t);
    const int d = mesh.faceDegree(faceIndex);
    if (d < 3) return false;
    const OrigFace& face = mesh.faceRecord(faceIndex);
    const int32_t start = prepared.starts ? prepared.starts[faceIndex] : -1;
    if (start >= 0)
        return locateInPreparedSubFace(prepared.records + start, d, {face.center[0], face.center[1], face.center[2]}, q,
                                       map);
    FaceFrame frame;
    locateInSubFace(FaceCorners{mesh.vertices, face.vertexIndices, d, mesh.reverse != 0}, face, q, frame);
    return makeFaceMap(frame, map);
}
