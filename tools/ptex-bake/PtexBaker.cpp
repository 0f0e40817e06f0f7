#include "PtexBaker.h"

#include "HostError.h"

#include <Ptexture.h>

#include <algorithm>
#include <cstdint>
#include <memory>

namespace tarsk::bake {

using host::HostError;
using host::Vec3;

TexelType parseTexelType(const std::string& name)
{
    if (name == "uint8") return TexelType::uint8;
    if (name == "uint16") return TexelType::uint16;
    if (name == "half") return TexelType::half;
    if (name == "float") return TexelType::float32;
    throw HostError("unknown texel type '" + name + "'; expected uint8, uint16, half or float");
}

namespace {

Ptex::DataType dataType(TexelType t)
{
    switch (t) {
    case TexelType::uint8: return Ptex::dt_uint8;
    case TexelType::uint16: return Ptex::dt_uint16;
    case TexelType::half: return Ptex::dt_half;
    case TexelType::float32: return Ptex::dt_float;
    }
    return Ptex::dt_uint8;
}

// Surface point and texture coordinates at face-local (u, v) of a quad face, the inverse of the
// texture's own mapping, which is linear on two triangles and makes no bilinear inversion: a whole
// face is split along its 0-2 diagonal, as the fan triangulation of the mesh lists splits it; a
// sub-face along the diagonal from the first edge midpoint (1, 0) to the other one (0, 1).
void quadPoint(const PtexFaceRecord& f, double u, double v, Vec3& p, std::array<double, 2>& uv)
{
    double w[4] = {0, 0, 0, 0};
    if (f.subFace < 0) {
        if (u >= v) {  // corners 0, 1, 2: P = A0 + u (A1 - A0) + v (A2 - A1)
            w[0] = 1 - u;
            w[1] = u - v;
            w[2] = v;
        } else {  // corners 0, 2, 3: P = A0 + v (A3 - A0) + u (A2 - A3)
            w[0] = 1 - v;
            w[3] = v - u;
            w[2] = u;
        }
    } else if (u + v <= 1) {  // corners 0, 1, 3 around the face corner
        w[0] = 1 - u - v;
        w[1] = u;
        w[3] = v;
    } else {  // corners 2, 3, 1 around the face centre
        w[2] = u + v - 1;
        w[3] = 1 - u;
        w[1] = 1 - v;
    }
    p = Vec3();
    uv = {0, 0};
    for (int k = 0; k < 4; ++k) {
        p += f.corners[k] * w[k];
        uv[0] += f.uvs[k][0] * w[k];
        uv[1] += f.uvs[k][1] * w[k];
    }
}

// The same for a triangle face: corner 0 at (0,0), 1 at (1,0), 2 at (0,1).
void trianglePoint(const PtexFaceRecord& f, double u, double v, Vec3& p, std::array<double, 2>& uv)
{
    double w[3] = {1 - u - v, u, v};
    p = Vec3();
    uv = {0, 0};
    for (int k = 0; k < 3; ++k) {
        p += f.corners[k] * w[k];
        uv[0] += f.uvs[k][0] * w[k];
        uv[1] += f.uvs[k][1] * w[k];
    }
}

// A writer that is released however the bake ends.
struct WriterDeleter {
    void operator()(Ptex::PtexWriter* w) const { w->release(); }
};

}  // namespace

BakeReport bakePtex(const ObjMesh& mesh, const TexelSource& source, const BakeOptions& options,
                    const std::string& outPath)
{
    if (options.resLog2 < 0 || options.resLog2 > 12)
        throw HostError("resolution log2 " + std::to_string(options.resLog2) + " is outside 0 .. 12");
    if (mesh.numFaces() == 0) throw HostError("the mesh has no faces");
    if (source.needsUvs() && !mesh.hasUvs())
        throw HostError("sampling an image needs texture coordinates ('vt' and f v/vt) on every face corner");

    PtexFaceLayout layout = buildPtexFaceLayout(mesh);
    const int numChannels = options.alpha ? 4 : 3;
    const Ptex::DataType dt = dataType(options.type);
    const int texelBytes = Ptex::DataSize(dt) * numChannels;

    Ptex::String error;
    std::unique_ptr<Ptex::PtexWriter, WriterDeleter> writer(
        Ptex::PtexWriter::open(outPath.c_str(), layout.quadType ? Ptex::mt_quad : Ptex::mt_triangle, dt, numChannels,
                               options.alpha ? 3 : -1, static_cast<int>(layout.faces.size()), error, true));
    if (!writer) throw HostError("cannot write '" + outPath + "': " + error);

    std::vector<uint8_t> texels;
    for (size_t id = 0; id < layout.faces.size(); ++id) {
        const PtexFaceRecord& face = layout.faces[id];
        int resLog2 = face.subFace >= 0 ? std::max(0, options.resLog2 - 1) : options.resLog2;
        int n = 1 << resLog2;
        texels.assign(static_cast<size_t>(n) * n * texelBytes, 0);
        for (int tv = 0; tv < n; ++tv)
            for (int tu = 0; tu < n; ++tu) {
                double u, v;
                if (face.numCorners == 3) {
                    // Triangle texel layout: the lower-left half holds upright cells, the upper-right
                    // half the inverted ones mirrored across the anti-diagonal; sample cell centroids.
                    if (tu + tv <= n - 1) {
                        u = (tu + 1.0 / 3.0) / n;
                        v = (tv + 1.0 / 3.0) / n;
                    } else {
                        int i = n - 1 - tv, j = n - 1 - tu;
                        u = (i + 2.0 / 3.0) / n;
                        v = (j + 2.0 / 3.0) / n;
                    }
                } else {
                    u = (tu + 0.5) / n;
                    v = (tv + 0.5) / n;
                }
                Vec3 p;
                std::array<double, 2> uv;
                if (face.numCorners == 3)
                    trianglePoint(face, u, v, p, uv);
                else
                    quadPoint(face, u, v, p, uv);
                float rgba[4];
                source.sample(p, uv, rgba);
                for (int c = 0; c < 4; ++c)
                    rgba[c] =
                        std::clamp(rgba[c], 0.0f, dt == Ptex::dt_uint8 || dt == Ptex::dt_uint16 ? 1.0f : 65504.0f);
                Ptex::ConvertFromFloat(texels.data() + (static_cast<size_t>(tv) * n + tu) * texelBytes, rgba, dt,
                                       numChannels);
            }
        int adjFaces[4], adjEdges[4];
        for (int e = 0; e < 4; ++e) {
            adjFaces[e] = options.adjacency ? face.adjFaces[e] : -1;
            adjEdges[e] = options.adjacency ? face.adjEdges[e] : 0;
        }
        Ptex::FaceInfo info(Ptex::Res(static_cast<int8_t>(resLog2), static_cast<int8_t>(resLog2)), adjFaces, adjEdges,
                            face.subFace >= 0);
        if (!writer->writeFace(static_cast<int>(id), info, texels.data()))
            break;  // close() reports the writer's reason
    }
    Ptex::String closeError;
    if (!writer->close(closeError)) throw HostError("cannot write '" + outPath + "': " + closeError);

    BakeReport report;
    report.quadType = layout.quadType;
    report.numFaces = static_cast<int>(layout.faces.size());
    report.warnings = layout.warnings;
    return report;
}

}  // namespace tarsk::bake
