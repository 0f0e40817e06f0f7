// OrigMesh: the topology of the mesh as it was modelled. For a render triangle it answers which
// original face holds it, that face's corner count, corner positions and per-face record.
// OrigTriMesh (triangle-type Ptex files) and OrigPolyMesh (quad-type files) implement it.
#pragma once

#include <tarsk/TarskPluginParameter.h>

#include <cstddef>
#include <cstdint>

// Filled at frame start from the host's mesh lists, in this order: setVertices ("vertices"),
// setFaceVertices ("origFaces"), setFaceDegrees and setNumFaces (both "origFacesDegree"), the
// `reverse` field, build(). The lists are borrowed, never copied: the host's parameter values keep
// them alive for the frame. After build() the object is only read, from any number of threads.
//
// build() checks the lists against the element counts kept at set-up; a mesh that fails is left
// invalid with numTriangles 0 and a message naming the first fault. Queries are meant for a valid
// mesh only, with 0 <= t < numTriangles and 0 <= k < getFaceDegree(t); they test neither.
class OrigMesh {
public:
    OrigMesh() = default;
    OrigMesh(const OrigMesh&) = delete;
    OrigMesh& operator=(const OrigMesh&) = delete;

    virtual ~OrigMesh();

    // Builds the per-triangle tables; check valid() afterwards.
    virtual void build() noexcept = 0;
    // Corner k of t's original face, in the numbering that honours `reverse`: a pointer to its
    // x, y, z inside the host's "vertices" storage.
    virtual const float* getVertex(int t, int k) const noexcept = 0;
    virtual int getFaceDegree(int t) const noexcept = 0;
    // The per-face entry of t's face; its type is fixed by the concrete class.
    virtual const void* getFace(int t) const noexcept = 0;
    // Turns a corner in stored ("origFaces") order into the numbering getVertex takes. The map is
    // its own inverse.
    virtual void mapCorner(int t, int& k) const noexcept = 0;
    // Takes the face degrees from "origFacesDegree". The triangle form needs none and accepts
    // anything, a missing parameter included.
    virtual bool setFaceDegrees(double time, const TUtils::TarskPluginParameter* param) noexcept;

    // Reading operations: a null parameter or an inconsistent list handle answers false and keeps
    // nothing. Otherwise the element pointer (or count) is kept and the handle released at once.
    bool setVertices(double time, const TUtils::TarskPluginParameter* param) noexcept;
    bool setFaceVertices(double time, const TUtils::TarskPluginParameter* param) noexcept;
    bool setNumFaces(double time, const TUtils::TarskPluginParameter* param) noexcept;

    // True once build() has succeeded. error() then is empty; otherwise it says why the mesh is
    // unusable (not built yet, a list missing, or the first fault found in the lists).
    bool valid() const noexcept { return isValid; }
    const char* error() const noexcept { return errorText; }

    // Element counts of the lists as they were set: vertices (of three floats) and "origFaces"
    // indices. The evaluation checks the render triangles' "faces" indices against numVertices().
    int32_t numVertices() const noexcept { return vertexCount; }
    int32_t numFaceVertexIndices() const noexcept { return faceVertexCount; }

    // The host's "vertices" as x, y, z floats; vertex i starts at element 3i. Borrowed.
    const float* vertices = nullptr;
    // The host's "origFaces": every original face's vertex indices, face after face. Borrowed.
    const int32_t* faceVertices = nullptr;
    // Number of original faces: the element count of "origFacesDegree".
    int32_t numFaces = 0;
    // Render triangles covered by the tables; 0 until a successful build, and 0 for an invalid
    // mesh, so that a bound check against it rejects every triangle.
    int32_t numTriangles = 0;
    // Nonzero when every face's corner order is reversed ("reverse_vertices").
    int32_t reverse = 0;

protected:
    // Records why the mesh cannot be used and drops what build() may have made. printf-style;
    // formats into a fixed buffer, so reporting a fault never allocates or throws.
    void fail(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
    void succeed() noexcept;
    // Checks shared by both forms before their own checks; false after fail().
    bool checkListsSet() noexcept;
    // Reading operations' common part: fetch the list at `time`, keep its element pointer and
    // count (left untouched on failure), release the handle. False, with a message, for a null
    // parameter or an inconsistent handle.
    bool readIntList(double time, const TUtils::TarskPluginParameter* param, const char* listName, const int32_t*& data,
                     int32_t& count) noexcept;
    bool readVectorList(double time, const TUtils::TarskPluginParameter* param, const char* listName,
                        const TUtils::Vector3f*& data, int32_t& count) noexcept;
    // Frees the concrete class's tables; called when a build starts or fails.
    virtual void dropTables() noexcept = 0;

    // Checks that the `count` indices of `face` from element `first` of "origFaces" on all name a
    // vertex; reports the first that does not. The caller has checked that they are in the list.
    bool checkVertexIndices(int32_t face, int64_t first, int64_t count) noexcept;

    const float* vertexData(int32_t vertexIndex) const noexcept
    {
        // 3 * index may pass INT32_MAX for large lists, so the offset is formed in pointer width.
        return vertices + 3 * static_cast<std::ptrdiff_t>(vertexIndex);
    }

    int32_t vertexCount = 0;
    int32_t faceVertexCount = 0;
    bool verticesSet = false;
    bool faceVerticesSet = false;
    bool numFacesSet = false;
    bool isValid = false;

private:
    static constexpr int kErrorTextSize = 256;
    char errorText[kErrorTextSize] = "mesh not built";
};
