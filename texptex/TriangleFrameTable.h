// TriangleFrameTable: the FaceMap of every render triangle of the frame's mesh, made at frame
// start so that a shading point reads its triangle's map instead of searching the face and solving
// its frame again. The map of a triangle depends only on the mesh lists, except for triangles of
// n-gons, whose entries send the evaluation to the sub-face search; the table holds the n-gons'
// sub-faces with their solvers for it.
#pragma once

#include "FaceLocation.h"

#include <cstdint>
#include <memory>

static_assert(sizeof(FaceMap) == 48, "a table entry is three quarters of a cache line");
static_assert(sizeof(SubFace) == 228, "two corners, three solvers of nine words, two face maps");

class TriangleFrameTable {
public:
    // 48 bytes per render triangle; a mesh with more triangles gets no table (about 1.5 GB) and is
    // evaluated point by point, with the same results.
    static constexpr int32_t kDefaultMaxTriangles = int32_t(1) << 25;
    // A worker thread is worth starting for this many triangles; at most this many work at once.
    static constexpr int32_t kTrianglesPerWorker = int32_t(1) << 16;
    static constexpr int kMaxWorkers = 16;
    // 228 bytes per sub-face of an n-gon; a mesh with more keeps its triangle maps but searches
    // its n-gons' sub-faces point by point.
    static constexpr int64_t kDefaultMaxSubFaces = int64_t(1) << 22;

    // Makes one entry per render triangle of the valid mesh (exactly one of the two is given), on
    // up to `workers` threads (the calling one included) for a large mesh. False, leaving no
    // table, when the mesh has more than `maxTriangles` triangles or the memory cannot be had;
    // the evaluation then works without it.
    bool build(const OrigPolyMesh* polyMesh, const OrigTriMesh* triMesh, const int32_t* faces, int32_t numFaceIndices,
               int32_t numTriangles, int workers = 1) noexcept;
    void release() noexcept;

    // The entry of render triangle t, for 0 <= t < size(); null without a table.
    const FaceMap* entries() const noexcept { return maps.get(); }
    int32_t size() const noexcept { return count; }

    // The n-gons' sub-faces, for subFaceMap; empty members where they were not made.
    const PreparedSubFaces& subFaces() const noexcept { return prepared; }

    // The largest mesh that gets a table, and that has its sub-faces made; tests lower them to
    // reach the per-point paths.
    int32_t maxTriangles = kDefaultMaxTriangles;
    int64_t maxSubFaces = kDefaultMaxSubFaces;

private:
    // The sub-faces of every n-gon of a quad-type mesh; nothing where they would pass
    // maxSubFaces or the memory cannot be had.
    void buildSubFaces(const OrigPolyMesh& mesh) noexcept;

    struct FreeEntries {
        void operator()(FaceMap* entries) const noexcept;
    };
    std::unique_ptr<FaceMap[], FreeEntries> maps;
    int32_t count = 0;
    std::unique_ptr<int32_t[]> subFaceStarts;
    std::unique_ptr<SubFace[]> subFaceRecords;
    PreparedSubFaces prepared;
};
