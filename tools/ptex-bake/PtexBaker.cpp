#include "PtexBaker.h"

#include "HostError.h"

#include <Ptexture.h>

#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cmath>
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

int roundedLog2(double texels, int maxLog2)
{
    if (!(texels > 1)) return 0;
    const double log2 = std::round(std::log2(texels));
    return static_cast<int>(std::clamp(log2, 0.0, static_cast<double>(maxLog2)));
}

// Fills the texels of one face at resolution `res` (row-major, texelBytes per texel).
void fillFace(const PtexFaceRecord& face, Ptex::Res res, const TexelSource& source, Ptex::DataType dt, int numChannels,
              uint8_t* texels)
{
    const int texelBytes = Ptex::DataSize(dt) * numChannels;
    const int nu = res.u(), nv = res.v();
    const float maxValue = dt == Ptex::dt_uint8 || dt == Ptex::dt_uint16 ? 1.0f : 65504.0f;
    for (int tv = 0; tv < nv; ++tv)
        for (int tu = 0; tu < nu; ++tu) {
            double u, v;
            if (face.numCorners == 3) {
                // Triangle texel layout: the lower-left half holds upright cells, the upper-right
                // half the inverted ones mirrored across the anti-diagonal; sample cell centroids.
                const int n = nu;
                if (tu + tv <= n - 1) {
                    u = (tu + 1.0 / 3.0) / n;
                    v = (tv + 1.0 / 3.0) / n;
                } else {
                    int i = n - 1 - tv, j = n - 1 - tu;
                    u = (i + 2.0 / 3.0) / n;
                    v = (j + 2.0 / 3.0) / n;
                }
            } else {
                u = (tu + 0.5) / nu;
                v = (tv + 0.5) / nv;
            }
            Vec3 p;
            std::array<double, 2> uv;
            if (face.numCorners == 3)
                trianglePoint(face, u, v, p, uv);
            else
                quadPoint(face, u, v, p, uv);
            float rgba[4];
            source.sample(p, uv, rgba);
            for (float& c : rgba) c = std::clamp(c, 0.0f, maxValue);
            Ptex::ConvertFromFloat(texels + (static_cast<size_t>(tv) * nu + tu) * texelBytes, rgba, dt, numChannels);
        }
}

// Faces travel through the bake in batches: a batch's texels are filled on one core, then
// the batch is written in face order. Batches hold about this many bytes of texels (at least
// one face), which bounds the memory to a few batches per core.
constexpr size_t kBatchBytes = size_t(1) << 20;
constexpr size_t kMaxBatchFaces = 256;

struct Batch {
    size_t first = 0, count = 0;
    std::vector<Ptex::Res> res;
    std::vector<size_t> start;  // byte offset of each face's texels
    std::vector<uint8_t> texels;
};

}  // namespace

Ptex::Res faceResolution(const PtexFaceRecord& face, const BakeOptions& options)
{
    if (options.texelDensity <= 0) {
        const int8_t log2 = static_cast<int8_t>(face.subFace >= 0 ? std::max(0, options.resLog2 - 1) : options.resLog2);
        return Ptex::Res(log2, log2);
    }
    const auto& c = face.corners;
    if (face.numCorners == 3) {
        const double mean = (host::length(c[1] - c[0]) + host::length(c[2] - c[1]) + host::length(c[0] - c[2])) / 3;
        const int8_t log2 = static_cast<int8_t>(roundedLog2(mean * options.texelDensity, options.resLog2));
        return Ptex::Res(log2, log2);
    }
    // u runs along edges 0 (corner 0 to 1) and 2, v along edges 3 and 1.
    const double uLength = (host::length(c[1] - c[0]) + host::length(c[2] - c[3])) / 2;
    const double vLength = (host::length(c[3] - c[0]) + host::length(c[2] - c[1])) / 2;
    return Ptex::Res(static_cast<int8_t>(roundedLog2(uLength * options.texelDensity, options.resLog2)),
                     static_cast<int8_t>(roundedLog2(vLength * options.texelDensity, options.resLog2)));
}

BakeReport bakePtex(const ObjMesh& mesh, const TexelSource& source, const BakeOptions& options,
                    const std::string& outPath)
{
    if (options.resLog2 < 0 || options.resLog2 > 12)
        throw HostError("resolution log2 " + std::to_string(options.resLog2) + " is outside 0 .. 12");
    if (!std::isfinite(options.texelDensity) || options.texelDensity < 0)
        throw HostError("the texel density must be a finite number of texels per unit length, at least 0");
    if (mesh.numFaces() == 0) throw HostError("the mesh has no faces");
    if (source.needsUvs() && !mesh.hasUvs())
        throw HostError("sampling an image needs texture coordinates ('vt' and f v/vt) on every face corner");

    PtexFaceLayout layout = buildPtexFaceLayout(mesh);
    const int numChannels = options.alpha ? 4 : 3;
    const Ptex::DataType dt = dataType(options.type);
    const size_t texelBytes = static_cast<size_t>(Ptex::DataSize(dt)) * static_cast<size_t>(numChannels);
    const bool triangles = !layout.quadType;

    Ptex::String error;
    std::unique_ptr<Ptex::PtexWriter, WriterDeleter> writer(
        Ptex::PtexWriter::open(outPath.c_str(), layout.quadType ? Ptex::mt_quad : Ptex::mt_triangle, dt, numChannels,
                               options.alpha ? 3 : -1, static_cast<int>(layout.faces.size()), error, true));
    if (!writer) throw HostError("cannot write '" + outPath + "': " + error);

    const size_t numFaces = layout.faces.size();
    size_t next = 0, written = 0;
    // Set by the writing stage, read by the stage that makes batches: the two may run at once.
    std::atomic<bool> writeFailed{false};
    // More threads than cores would only oversubscribe them (and oneTBB refuses the extra workers).
    const int cores = tbb::this_task_arena::max_concurrency();
    const int threads = options.threads > 0 ? std::min(options.threads, cores) : cores;
    tbb::task_arena arena(threads);
    arena.execute([&] {
        tbb::parallel_pipeline(
            static_cast<size_t>(threads) * 2,
            tbb::make_filter<void, std::shared_ptr<Batch>>(
                tbb::filter_mode::serial_in_order,
                [&](tbb::flow_control& control) -> std::shared_ptr<Batch> {
                    if (next >= numFaces || writeFailed) {
                        control.stop();
                        return nullptr;
                    }
                    auto batch = std::make_shared<Batch>();
                    batch->first = next;
                    size_t bytes = 0;
                    while (next < numFaces && batch->count < kMaxBatchFaces &&
                           (batch->count == 0 || bytes < kBatchBytes)) {
                        Ptex::Res res = faceResolution(layout.faces[next], options);
                        if (triangles) res.vlog2 = res.ulog2;
                        batch->res.push_back(res);
                        batch->start.push_back(bytes);
                        bytes += static_cast<size_t>(res.size()) * texelBytes;
                        ++batch->count;
                        ++next;
                    }
                    batch->texels.resize(bytes);
                    return batch;
                }) &
                tbb::make_filter<std::shared_ptr<Batch>, std::shared_ptr<Batch>>(
                    tbb::filter_mode::parallel,
                    [&](std::shared_ptr<Batch> batch) {
                        for (size_t k = 0; k < batch->count; ++k)
                            fillFace(layout.faces[batch->first + k], batch->res[k], source, dt, numChannels,
                                     batch->texels.data() + batch->start[k]);
                        return batch;
                    }) &
                tbb::make_filter<std::shared_ptr<Batch>, void>(
                    tbb::filter_mode::serial_in_order, [&](const std::shared_ptr<Batch>& batch) {
                        for (size_t k = 0; k < batch->count && !writeFailed; ++k) {
                            const size_t id = batch->first + k;
                            const PtexFaceRecord& face = layout.faces[id];
                            int adjFaces[4], adjEdges[4];
                            for (int e = 0; e < 4; ++e) {
                                adjFaces[e] = options.adjacency ? face.adjFaces[e] : -1;
                                adjEdges[e] = options.adjacency ? face.adjEdges[e] : 0;
                            }
                            Ptex::FaceInfo info(batch->res[k], adjFaces, adjEdges, face.subFace >= 0);
                            // close() reports the writer's reason.
                            if (!writer->writeFace(static_cast<int>(id), info, batch->texels.data() + batch->start[k]))
                                writeFailed = true;
                        }
                        written += batch->count;
                        if (options.progress) options.progress(written, numFaces);
                    }));
    });
    Ptex::String closeError;
    if (!writer->close(closeError)) throw HostError("cannot write '" + outPath + "': " + closeError);

    BakeReport report;
    report.quadType = layout.quadType;
    report.numFaces = static_cast<int>(layout.faces.size());
    report.warnings = layout.warnings;
    return report;
}

}  // namespace tarsk::bake
