#include "TexPtexHarness.h"

#include "LibDesc.h"
#include "TestData.h"
#include "TextureMaker.h"
#include "UserPluginDesc.h"

#include <tarsk/TarskParameterList.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace TUtils;

namespace texptex_test {

MeshLists fanMesh(std::vector<Vector3f> vertices, const std::vector<std::vector<int32_t>>& polygons)
{
    MeshLists lists;
    lists.vertices = std::move(vertices);
    for (const auto& polygon : polygons) {
        lists.origFacesDegree.push_back(static_cast<int32_t>(polygon.size()));
        lists.origFaces.insert(lists.origFaces.end(), polygon.begin(), polygon.end());
        for (size_t k = 1; k + 1 < polygon.size(); ++k)
            lists.faces.insert(lists.faces.end(), {polygon[0], polygon[k], polygon[k + 1]});
    }
    return lists;
}

MeshLists quadGridMesh(int side)
{
    std::vector<Vector3f> vertices;
    for (int y = 0; y <= side; ++y)
        for (int x = 0; x <= side; ++x) vertices.push_back({float(x), float(y), 0});
    std::vector<std::vector<int32_t>> quads;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int32_t v = y * (side + 1) + x;
            quads.push_back({v, v + 1, v + side + 2, v + side + 1});
        }
    return fanMesh(std::move(vertices), quads);
}

int ptexFaceCount(const MeshLists& lists, bool quadFile)
{
    if (!quadFile) return static_cast<int>(lists.origFacesDegree.size());
    int n = 0;
    for (int32_t d : lists.origFacesDegree) n += d == 4 ? 1 : d;
    return n;
}

namespace {

std::string scratchPath(const std::string& name)
{
    const std::string dir = tarsk::test::scratchDir() + "/texptex";
    std::filesystem::create_directories(dir);
    return dir + "/" + name;
}

std::string writeOrFail(const std::string& name, const tarsk::test::TextureLayout& texDesc)
{
    const std::string path = scratchPath(name);
    std::string error;
    EXPECT_TRUE(tarsk::test::writeTexture(path, texDesc, error)) << path << ": " << error;
    return path;
}

}  // namespace

std::string writeIdTexture(const std::string& name, bool quadFile, int numFaces, int log2Res,
                           const std::vector<bool>& subfaces)
{
    tarsk::test::TextureLayout texDesc;
    texDesc.meshType = quadFile ? Ptex::mt_quad : Ptex::mt_triangle;
    texDesc.dataType = Ptex::dt_float;
    texDesc.numChannels = 3;
    texDesc.mipmaps = false;
    texDesc.faces.resize(static_cast<size_t>(numFaces));
    for (int f = 0; f < numFaces; ++f) {
        texDesc.faces[f].res = Ptex::Res(static_cast<int8_t>(log2Res), static_cast<int8_t>(log2Res));
        texDesc.faces[f].subface = f < static_cast<int>(subfaces.size()) && subfaces[f];
    }
    if (quadFile) {
        texDesc.texel = tarsk::test::faceIdAndUv(texDesc.faces);
    } else {
        // Triangle faces: texel (x, y) with x + y <= N - 1 holds the upright small triangle of grid
        // cell (x, y), the others the inverted triangle of cell (N - 1 - y, N - 1 - x); the texel
        // holds that small triangle's centroid.
        const int n = 1 << log2Res;
        texDesc.texel = [n](int faceId, int x, int y, int channel) -> float {
            float cu = x + 1.0f / 3.0f, cv = y + 1.0f / 3.0f;
            if (x + y > n - 1) {
                cu = (n - 1 - y) + 2.0f / 3.0f;
                cv = (n - 1 - x) + 2.0f / 3.0f;
            }
            return channel == 0 ? float(faceId) : (channel == 1 ? cu / n : cv / n);
        };
    }
    return writeOrFail(name, texDesc);
}

std::string writeConstantTexture(const std::string& name, bool quadFile, int numFaces, const std::vector<float>& value,
                                 int alphaChannel, int log2Res)
{
    tarsk::test::TextureLayout texDesc;
    texDesc.meshType = quadFile ? Ptex::mt_quad : Ptex::mt_triangle;
    texDesc.dataType = Ptex::dt_float;
    texDesc.numChannels = static_cast<int>(value.size());
    texDesc.alphaChannel = alphaChannel;
    texDesc.faces = quadFile ? tarsk::test::quadGrid(numFaces, 1, Ptex::Res(int8_t(log2Res), int8_t(log2Res)))
                             : std::vector<tarsk::test::FaceLayout>(static_cast<size_t>(numFaces));
    if (!quadFile) {
        for (auto& f : texDesc.faces) f.res = Ptex::Res(static_cast<int8_t>(log2Res), static_cast<int8_t>(log2Res));
    }
    texDesc.texel = [value](int, int, int, int channel) { return value[static_cast<size_t>(channel)]; };
    return writeOrFail(name, texDesc);
}

PluginInterface* OffsetGeometry::getInterface(uint64_t id)
{
    if (id == GeometryTransform::kInterfaceId) return static_cast<GeometryTransform*>(this);
    return PluginBase::getInterface(id);
}

Vector3f OffsetGeometry::transformPoint(const ShadingContext&, const Vector3f& p)
{
    return {p.x - offset.x, p.y - offset.y, p.z - offset.z};
}

void Harness::Deleter::operator()(TexPtex* tex) const { texPtexPluginDesc()->deletePlugin(static_cast<Plugin*>(tex)); }

Harness::Harness(int numThreads, bool withLog)
{
    tarskRenderer = std::make_unique<TarskRenderer>(numThreads, 0.0, withLog ? &messageLog : nullptr);
    PluginBase* plugin = texPtexPluginDesc()->newPlugin(nullptr);
    instance.reset(static_cast<TexPtex*>(static_cast<Plugin*>(plugin)));
    threads.resize(static_cast<size_t>(numThreads) + 1);
    for (int i = 0; i <= numThreads; ++i) threads[static_cast<size_t>(i)].threadIndex = i;
}

Harness::~Harness() = default;

void Harness::setInt(const char* name, int32_t value)
{
    TarskPluginParameter param(name);
    param.setInt(0.0, value);
    EXPECT_EQ(instance->setParameter(&param), 1) << name;
}

void Harness::setFloat(const char* name, float value)
{
    TarskPluginParameter param(name);
    param.setFloat(0.0, value);
    EXPECT_EQ(instance->setParameter(&param), 1) << name;
}

void Harness::setString(const char* name, const char* value)
{
    TarskPluginParameter param(name);
    param.setString(0.0, value);
    EXPECT_EQ(instance->setParameter(&param), 1) << name;
}

void Harness::setIntList(const char* name, std::vector<int32_t> values)
{
    TarskPluginParameter param(name);
    param.setIntList(0.0, std::move(values));
    EXPECT_EQ(instance->setParameter(&param), 1) << name;
}

void Harness::setMesh(const MeshLists& lists)
{
    mesh = lists;
    TarskPluginParameter vertices("vertices");
    vertices.setVectorList(0.0, lists.vertices);
    EXPECT_EQ(instance->setParameter(&vertices), 1);
    setIntList("origFaces", lists.origFaces);
    setIntList("origFacesDegree", lists.origFacesDegree);
    setIntList("faces", lists.faces);
}

void Harness::begin()
{
    instance->renderBegin(tarskRenderer.get());
    instance->frameBegin(tarskRenderer.get());
}

void Harness::end()
{
    instance->frameEnd(tarskRenderer.get());
    instance->renderEnd(tarskRenderer.get());
}

Harness::Where Harness::whereAt(int t, Vector3f p)
{
    const Color c = evalAt(t, p);
    return Where{static_cast<int>(std::lround(c.r)), c.g, c.b};
}

ShadingContext Harness::contextAtWeights(int t, float wA, float wB, int thread)
{
    ShadingContext context;
    context.thread = &threads.at(static_cast<size_t>(thread));
    context.faceIndex = t;
    context.weightA = wA;
    context.weightB = wB;
    context.geometryObject = useGeometry ? static_cast<PluginBase*>(&geometry) : nullptr;
    if (t >= 0 && 3 * static_cast<size_t>(t) + 2 < mesh.faces.size()) {
        auto at = [&](int k) {
            const Vector3f v = mesh.vertices.at(static_cast<size_t>(mesh.faces[3 * static_cast<size_t>(t) + k]));
            return Vector3f{v.x + geometry.offset.x, v.y + geometry.offset.y, v.z + geometry.offset.z};
        };
        const Vector3f o = at(0), a = at(1), b = at(2);
        context.triOrigin = o;
        context.triEdgeA = {a.x - o.x, a.y - o.y, a.z - o.z};
        context.triEdgeB = {b.x - o.x, b.y - o.y, b.z - o.z};
    }
    return context;
}

ShadingContext Harness::contextAt(int t, Vector3f p, int thread, float dx)
{
    ShadingContext context = contextAtWeights(t, 0, 0, thread);
    // Weights along the two edges by least squares in double (exact for points in the plane).
    const Vector3f& e1 = context.triEdgeA;
    const Vector3f& e2 = context.triEdgeB;
    const double d[3] = {double(p.x) + geometry.offset.x - context.triOrigin.x,
                         double(p.y) + geometry.offset.y - context.triOrigin.y,
                         double(p.z) + geometry.offset.z - context.triOrigin.z};
    const double a11 = double(e1.x) * e1.x + double(e1.y) * e1.y + double(e1.z) * e1.z;
    const double a12 = double(e1.x) * e2.x + double(e1.y) * e2.y + double(e1.z) * e2.z;
    const double a22 = double(e2.x) * e2.x + double(e2.y) * e2.y + double(e2.z) * e2.z;
    const double b1 = e1.x * d[0] + e1.y * d[1] + e1.z * d[2];
    const double b2 = e2.x * d[0] + e2.y * d[1] + e2.z * d[2];
    const double det = a11 * a22 - a12 * a12;
    if (det != 0.0) {
        context.weightA = static_cast<float>((b1 * a22 - b2 * a12) / det);
        context.weightB = static_cast<float>((a11 * b2 - a12 * b1) / det);
    }
    context.dPdx = {dx, 0, 0};
    context.dPdy = {0, dx, 0};
    context.cacheSlot = 0;
    context.cacheKey = 0;  // not cached unless a test asks for it
    return context;
}

}  // namespace texptex_test
