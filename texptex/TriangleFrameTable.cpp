#include "TriangleFrameTable.h"

#include <OrigPolyMesh.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include <sys/mman.h>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

// Tables of a few megabytes and more are placed on 2 MB boundaries and offered huge pages: a frame
// then takes a few hundred page faults for 10^6 triangles instead of tens of thousands, and the
// shading points' scattered reads miss the TLB less. Without huge pages it is ordinary memory.
FaceMap* allocateEntries(size_t count) noexcept
{
    const size_t bytes = count * sizeof(FaceMap);
    if (bytes < 2 * kHugePage) return static_cast<FaceMap*>(std::malloc(bytes));
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = nullptr;
    if (posix_memalign(&memory, kHugePage, rounded) != 0) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(memory, rounded, MADV_HUGEPAGE);  // advice only: a refusal leaves ordinary pages
#endif
    return static_cast<FaceMap*>(memory);
}

}  // namespace

void TriangleFrameTable::FreeEntries::operator()(FaceMap* entries) const noexcept { std::free(entries); }

bool TriangleFrameTable::build(const OrigPolyMesh* polyMesh, const OrigTriMesh* triMesh, const int32_t* faces,
                               int32_t numFaceIndices, int32_t numTriangles, int workers) noexcept
{
    release();
    if (numTriangles <= 0 || numTriangles > maxTriangles || (!polyMesh && !triMesh)) return false;
    // FaceMap is trivial: every entry is written below once, nothing needs initialising first.
    maps.reset(allocateEntries(static_cast<size_t>(numTriangles)));
    if (!maps) return false;
    FaceMap* entries = maps.get();
    auto fill = [=](int32_t begin, int32_t end) noexcept {
        for (int32_t t = begin; t < end; ++t) entries[t] = triangleFaceMap(polyMesh, triMesh, faces, numFaceIndices, t);
    };
    // Entries are independent: large meshes are split into equal runs, one per worker. Each
    // helper writes only its own run and is joined before the table is used.
    int runs = std::clamp(std::min(workers, numTriangles / kTrianglesPerWorker), 1, kMaxWorkers);
    if (runs > 1) runs = std::min(runs, std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
    const int32_t runLength = (numTriangles + runs - 1) / runs;
    auto runEnd = [&](int r) {
        return static_cast<int32_t>(std::min<int64_t>(int64_t(r + 1) * runLength, numTriangles));
    };
    std::thread helpers[kMaxWorkers];
    bool helped[kMaxWorkers] = {};
    for (int r = 1; r < runs; ++r) {
        try {
            helpers[r] = std::thread(fill, r * runLength, runEnd(r));
            helped[r] = true;
        } catch (...) {
            // No thread to be had: this run is made here below.
        }
    }
    fill(0, runEnd(0));
    for (int r = 1; r < runs; ++r) {
        if (helped[r])
            helpers[r].join();
        else
            fill(r * runLength, runEnd(r));
    }
    count = numTriangles;
    if (polyMesh) buildSubFaces(*polyMesh);
    return true;
}

void TriangleFrameTable::buildSubFaces(const OrigPolyMesh& mesh) noexcept
{
    const int32_t numFaces = mesh.numFaces;
    int64_t total = 0;
    for (int32_t f = 0; f < numFaces; ++f) {
        const int32_t d = mesh.faceDegree(f);
        if (d >= 3 && d != 4) total += d;
    }
    if (total == 0 || total > maxSubFaces) return;
    subFaceStarts.reset(new (std::nothrow) int32_t[static_cast<size_t>(numFaces)]);
    subFaceRecords.reset(new (std::nothrow) SubFace[static_cast<size_t>(total)]);
    if (!subFaceStarts || !subFaceRecords) {
        subFaceStarts.reset();
        subFaceRecords.reset();
        return;
    }
    int32_t next = 0;  // total fits: maxSubFaces is far below INT32_MAX
    for (int32_t f = 0; f < numFaces; ++f) {
        const int32_t d = mesh.faceDegree(f);
        if (d >= 3 && d != 4) {
            subFaceStarts[f] = next;
            makeSubFaces(mesh, f, &subFaceRecords[next]);
            next += d;
        } else {
            subFaceStarts[f] = -1;
        }
    }
    prepared.starts = subFaceStarts.get();
    prepared.records = subFaceRecords.get();
}

void TriangleFrameTable::release() noexcept
{
    maps.reset();
    count = 0;
    prepared = PreparedSubFaces{};
    subFaceStarts.reset();
    subFaceRecords.reset();
}
