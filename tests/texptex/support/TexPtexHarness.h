// TexPtexHarness: a TexPtex instance made through the library's plug-in descriptor, with a
// recording message log, a renderer, mesh lists set as a host sets them, and shading contexts
// built for hits given as (render triangle, position), for tests of the lifecycle and evaluation.
// Also writes Ptex files whose float texels encode their own face id and (u, v).
#pragma once

#include "TexPtex.h"

#include <tarsk/GeometryTransform.h>
#include <tarsk/PluginBase.h>
#include <tarsk/ShadingContext.h>
#include <tarsk/TarskMessageLog.h>
#include <tarsk/TarskRenderer.h>

#include <memory>
#include <string>
#include <vector>

namespace texptex_test {

using TUtils::Color;
using TUtils::Vector3f;

struct MeshLists {
    std::vector<Vector3f> vertices;
    std::vector<int32_t> origFaces;
    std::vector<int32_t> origFacesDegree;
    std::vector<int32_t> faces;  // fan triangulation of origFaces, d - 2 triangles per face
};

// Original faces as vertex index lists; "faces" is their fan (0, k, k + 1).
MeshLists fanMesh(std::vector<Vector3f> vertices, const std::vector<std::vector<int32_t>>& polygons);

// side x side unit quads in the plane z = 0, face j * side + i at cell (i, j), as fanMesh lists.
MeshLists quadGridMesh(int side);

// Ptex faces one quad-type file needs for `lists`: one per 4-corner face, d per other face.
int ptexFaceCount(const MeshLists& lists, bool quadFile);

// Writes a float Ptex file of `numFaces` faces at 2^log2 x 2^log2 texels whose three channels are
// (face id, u, v) of the texel's centre (of its small triangle's centroid in a triangle-type
// file), so the point filter reads back where it was evaluated to within 1 / 2^log2. Subface flags follow `subfaces` when
// given. Answers the path (under the build tree's scratch folder).
std::string writeIdTexture(const std::string& name, bool quadFile, int numFaces, int log2Res = 6,
                           const std::vector<bool>& subfaces = {});
// A file whose every texel of every face holds `value` in each of its channels.
std::string writeConstantTexture(const std::string& name, bool quadFile, int numFaces, const std::vector<float>& value,
                                 int alphaChannel = -1, int log2Res = 3);

// A hit object that moves mesh space by `offset` into world space; its GeometryTransform takes
// world points back (and leaves vectors as they are).
class OffsetGeometry : public PluginBase, public TUtils::GeometryTransform {
public:
    explicit OffsetGeometry(Vector3f offset) : offset(offset) {}
    PluginInterface* getInterface(uint64_t id) override;
    PluginBase* getPlugin() override { return this; }
    Vector3f transformNormal(const TUtils::ShadingContext&, const Vector3f& n) override { return n; }
    Vector3f transformVector(const TUtils::ShadingContext&, const Vector3f& v) override { return v; }
    Vector3f transformPoint(const TUtils::ShadingContext&, const Vector3f& p) override;

    Vector3f offset;
};

class Harness {
public:
    // An instance with its own parameter list; the renderer has `threads` threads and, when
    // `withLog`, a recording message log.
    explicit Harness(int threads = 1, bool withLog = true);
    ~Harness();

    TexPtex& tex() { return *instance; }
    TUtils::TarskRenderer& renderer() { return *tarskRenderer; }
    TUtils::TarskMessageLog& log() { return messageLog; }

    void setInt(const char* name, int32_t value);
    void setFloat(const char* name, float value);
    void setString(const char* name, const char* value);
    // Sets the four mesh lists (and keeps them for contexts).
    void setMesh(const MeshLists& lists);
    void setIntList(const char* name, std::vector<int32_t> values);

    // renderBegin then frameBegin; frameEnd then renderEnd.
    void begin();
    void end();

    // A context for a hit of render triangle t at mesh position p, on thread `thread`, in world
    // space through `geometry` (null: no hit object). The weights are solved along the render
    // triangle's edges; differentials are (dx, 0, 0) and (0, dx, 0).
    TUtils::ShadingContext contextAt(int t, Vector3f p, int thread = 0, float dx = 0.0f);
    // A context at weights (wA, wB) of render triangle t.
    TUtils::ShadingContext contextAtWeights(int t, float wA, float wB, int thread = 0);
    Color eval(TUtils::ShadingContext& context) { return instance->evalColor(context); }
    Color evalAt(int t, Vector3f p, int thread = 0)
    {
        auto c = contextAt(t, p, thread);
        return eval(c);
    }
    // For id textures: the face id and (u, v) that the evaluation at (t, p) chose.
    struct Where {
        int faceId;
        float u, v;
    };
    Where whereAt(int t, Vector3f p);

    std::vector<TUtils::ShadingThread> threads;  // one record per render thread index, and one spare
    OffsetGeometry geometry{Vector3f{0, 0, 0}};
    bool useGeometry = true;

private:
    TUtils::TarskMessageLog messageLog{false, true};
    std::unique_ptr<TUtils::TarskRenderer> tarskRenderer;
    struct Deleter {
        void operator()(TexPtex* tex) const;
    };
    std::unique_ptr<TexPtex, Deleter> instance;
    MeshLists mesh;
};

}  // namespace texptex_test
