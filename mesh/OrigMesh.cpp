// The list-reading operations and the list checks shared by both topology forms.
#include "OrigMesh.h"

#include <cstdarg>
#include <cstdio>

namespace {

// Takes the element pointer and count from a list handle and gives the handle back at once; the
// parameter's own value keeps the storage alive. A handle whose count is negative, or that claims
// elements without storage, cannot be read safely and is refused.
template <typename T>
bool takeList(TUtils::ListRef<T> list, const T*& data, int32_t& count) noexcept
{
    const bool consistent = list.count >= 0 && (list.count == 0 || list.data != nullptr);
    if (consistent) {
        data = list.data;
        count = list.count;
    }
    list.release();
    return consistent;
}

}  // namespace

OrigMesh::~OrigMesh() = default;

bool OrigMesh::setFaceDegrees(double, const TUtils::TarskPluginParameter*) noexcept { return true; }

bool OrigMesh::setVertices(double time, const TUtils::TarskPluginParameter* param) noexcept
{
    const TUtils::Vector3f* data = nullptr;
    if (!readVectorList(time, param, "vertices", data, vertexCount)) return false;
    // Vector3f is three packed floats, so the list is also an array of 3 * count floats.
    vertices = data ? &data->x : nullptr;
    verticesSet = true;
    return true;
}

bool OrigMesh::setFaceVertices(double time, const TUtils::TarskPluginParameter* param) noexcept
{
    if (!readIntList(time, param, "origFaces", faceVertices, faceVertexCount)) return false;
    faceVerticesSet = true;
    return true;
}

bool OrigMesh::setNumFaces(double time, const TUtils::TarskPluginParameter* param) noexcept
{
    const int32_t* degrees = nullptr;
    if (!readIntList(time, param, "origFacesDegree", degrees, numFaces)) return false;
    numFacesSet = true;
    return true;
}

bool OrigMesh::readIntList(double time, const TUtils::TarskPluginParameter* param, const char* listName,
                           const int32_t*& data, int32_t& count) noexcept
{
    if (!param) {
        fail("\"%s\" is missing", listName);
        return false;
    }
    try {
        if (takeList(param->getIntList(time), data, count)) return true;
        fail("\"%s\" gave an inconsistent list handle", listName);
    } catch (...) {
        fail("\"%s\" could not be read", listName);
    }
    return false;
}

bool OrigMesh::readVectorList(double time, const TUtils::TarskPluginParameter* param, const char* listName,
                              const TUtils::Vector3f*& data, int32_t& count) noexcept
{
    if (!param) {
        fail("\"%s\" is missing", listName);
        return false;
    }
    try {
        if (takeList(param->getVectorList(time), data, count)) return true;
        fail("\"%s\" gave an inconsistent list handle", listName);
    } catch (...) {
        fail("\"%s\" could not be read", listName);
    }
    return false;
}

void OrigMesh::fail(const char* format, ...) noexcept
{
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(errorText, sizeof errorText, format, args);
    va_end(args);
    isValid = false;
    numTriangles = 0;
    dropTables();
}

void OrigMesh::succeed() noexcept
{
    errorText[0] = '\0';
    isValid = true;
}

bool OrigMesh::checkListsSet() noexcept
{
    if (!verticesSet) {
        fail("\"vertices\" was not set");
        return false;
    }
    if (!faceVerticesSet) {
        fail("\"origFaces\" was not set");
        return false;
    }
    if (!numFacesSet || numFaces < 0) {
        fail("the face count from \"origFacesDegree\" was not set");
        return false;
    }
    return true;
}

bool OrigMesh::checkVertexIndices(int32_t face, int64_t first, int64_t count) noexcept
{
    for (int64_t j = 0; j < count; ++j) {
        const int32_t index = faceVertices[first + j];
        if (index >= 0 && index < vertexCount) continue;
        if (vertexCount == 0)
            fail("face %d uses vertex %d but \"vertices\" is empty", face, index);
        else
            fail("face %d, corner %lld: vertex index %d outside [0, %d) of \"vertices\"", face,
                 static_cast<long long>(j), index, vertexCount);
        return false;
    }
    return true;
}
