// OrigPolyMesh: the topology for Ptex files of the quad mesh type. Original faces may have any
// corner count; a face of degree d is d - 2 render triangles, and takes one Ptex face id when it
// has 4 corners, otherwise d ids (one sub-face per corner).
#pragma once

#include "OrigFace.h"
#include "OrigMesh.h"

#include <memory>

// Faces of degree below 3 lie outside what a renderer can triangulate. They are kept, not
// rejected: they get no render triangle and take one Ptex id per corner (d ids for d = 1 or 2,
// none for d <= 0, which also consume no "origFaces" indices), so that the faces after them keep
// the ids an exporter gives them. numDegenerateFaces() counts them for a caller who wants to warn.
class OrigPolyMesh final : public OrigMesh {
public:
    OrigPolyMesh() = default;
    ~OrigPolyMesh() override;

    // Needs "origFaces" to hold the indices of every face (the sum of the positive degrees), each
    // naming a vertex, and the render-triangle and Ptex-id counts to fit a signed 32-bit integer.
    void build() noexcept override;
    const float* getVertex(int t, int k) const noexcept override;
    int getFaceDegree(int t) const noexcept override;
    // The OrigFace of t's face; the same record for all of the face's triangles.
    const void* getFace(int t) const noexcept override;
    void mapCorner(int t, int& k) const noexcept override;
    // Keeps the element pointer and count of "origFacesDegree"; false for a missing parameter.
    bool setFaceDegrees(double time, const TUtils::TarskPluginParameter* param) noexcept override;

    // Typed forms of the tables, for a valid mesh: t's face, t's record, face i's record.
    int32_t faceOfTriangle(int t) const noexcept { return triangleFace[t]; }
    const OrigFace& origFace(int t) const noexcept { return faceRecords[triangleFace[t]]; }
    const OrigFace& faceRecord(int32_t face) const noexcept { return faceRecords[face]; }
    // Corner count of face i, without the virtual call of getFaceDegree (for per-point work).
    int32_t faceDegree(int32_t face) const noexcept { return faceDegrees[face]; }

    // Ptex faces the mesh accounts for (one past the last id); 0 until a successful build.
    int32_t numPtexFaces() const noexcept { return ptexFaceCount; }
    // Faces of degree below 3 found by the last successful build.
    int32_t numDegenerateFaces() const noexcept { return degenerateFaceCount; }

private:
    void dropTables() noexcept override;

    std::unique_ptr<OrigFace[]> faceRecords;  // one per original face, in face order
    const int32_t* faceDegrees = nullptr;     // the host's "origFacesDegree"; borrowed
    std::unique_ptr<int32_t[]> triangleFace;  // entry t: the original face of render triangle t
    int32_t faceDegreeCount = 0;
    bool faceDegreesSet = false;
    int32_t ptexFaceCount = 0;
    int32_t degenerateFaceCount = 0;
};
