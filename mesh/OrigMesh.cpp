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

bool OrigMesh::setFaceDegrees(double, const TUtils::TarskPluginParameter*)
{
    return true;
}

bool OrigMesh::setVertices(double time, const TUtils::TarskPluginParameter* param)
{
    if (!param) {
        fail("\"vertices\" is missing");
        return false;
    }
    try {
        const TUtils::Vector3f* data = nullptr;
        int32_t count = 0;
        if (!takeList(param->getVectorList(time), data, count)) {
            fail("\"vertices\" gave an inconsistent list handle");
            return false;
        }
        // Vector3f is three packed floats, so the list is also an array of 3 * count floats.
        vertices = data ? &data->x : nullptr;
        vertexCount = count;
        verticesSet = true;
        return true;
    } catch (...) {
        fail("\"vertices\" could not be read");
        return false;
    }
}

bool OrigMesh::setFaceVertices(double time, const TUtils::TarskPluginParameter* param)
{
    if (!param) {
        fail("\"origFaces\" is missing");
        return false;
    }
    try {
        const int32_t* data = nullptr;
        int32_t count = 0;
        if (!takeList(param->getIntList(time), data, count)) {
            fail("\"origFaces\" gave an inconsistent list handle");
            return false;
        }
        faceVertices = data;
        faceVertexCount = count;
        faceVerticesSet = true;
        return true;
    } catch (...) {
        fail("\"origFaces\" could not be read");
        return false;
    }
}

bool OrigMesh::setNumFaces(double time, const TUtils::TarskPluginParameter* param)
{
    if (!param) {
        fail("\"origFacesDegree\" is missing");
        return false;
    }
    try {
        const int32_t* data = nullptr;
        int32_t count = 0;
        if (!takeList(param->getIntList(time), data, count)) {
            fail("\"origFacesDegree\" gave an inconsistent list handle");
            return false;
        }
        numFaces = count;
        numFacesSet = true;
        return true;
    } catch (...) {
        fail("\"origFacesDegree\" could not be read");
        return false;
    }
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
        if (index >= 0 && index < vertexCount)
            continue;
        if (vertexCount == 0)
            fail("face %d uses vertex %d but \"vertices\" is empty", face, index);
        else
            fail("face %d, corner %lld: vertex index %d outside [0, %d) of \"vertices\"", face,
                 static_cast<long long>(j), index, vertexCount);
        return false;
    }
    return true;
}
