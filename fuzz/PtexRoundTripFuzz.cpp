// Fuzz target: the writer-reader round trip. The input chooses the mesh and data type, channel
// and alpha layout, face count, each face's resolution, adjacency, constant-ness and texels; the
// file is written, read back, and every face's stored texels must come back bit for bit.
#include <Ptexture.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kMaxFaces = 8;
constexpr int kMaxLog2 = 5;

struct FaceRecord {
    Ptex::FaceInfo info;
    std::vector<uint8_t> texels;  // full resolution, or one texel for a constant face
    bool constant = false;
    bool written = false;
};

const std::string& scratchPath()
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/tarsk-roundtrip-fuzz-" + std::to_string(getpid()) + ".ptx";
    }();
    return path;
}

[[noreturn]] void mismatch(const char* what)
{
    std::fprintf(stderr, "round trip mismatch: %s\n", what);
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    const auto meshType = in.ConsumeBool() ? Ptex::mt_quad : Ptex::mt_triangle;
    const auto dataType = static_cast<Ptex::DataType>(in.ConsumeIntegralInRange(0, 3));
    const int channels = in.ConsumeIntegralInRange(1, 4);
    const int alpha = in.ConsumeIntegralInRange(-1, channels - 1);
    const int numFaces = in.ConsumeIntegralInRange(1, kMaxFaces);
    const bool mipmaps = in.ConsumeBool();
    const int texelBytes = Ptex::DataSize(dataType) * channels;

    std::vector<FaceRecord> faces(numFaces);
    for (FaceRecord& face : faces) {
        int ulog2 = in.ConsumeIntegralInRange(0, kMaxLog2);
        // Triangle faces are square; the writer refuses others.
        int vlog2 = meshType == Ptex::mt_triangle ? ulog2 : in.ConsumeIntegralInRange(0, kMaxLog2);
        int adj[4], edges[4];
        // Triangles have edges 0..2 only; a reader clears edge 3 and links to it, so the
        // round trip is checked on what a triangle can hold.
        const int numEdges = meshType == Ptex::mt_triangle ? 3 : 4;
        for (int e = 0; e < 4; ++e) {
            adj[e] = e < numEdges ? in.ConsumeIntegralInRange(-1, numFaces - 1) : -1;
            edges[e] = e < numEdges ? in.ConsumeIntegralInRange(0, numEdges - 1) : 0;
        }
        face.info = Ptex::FaceInfo(Ptex::Res(int8_t(ulog2), int8_t(vlog2)), adj, edges,
                                   meshType == Ptex::mt_quad && in.ConsumeBool());
        face.constant = in.ConsumeIntegralInRange(0, 3) == 0;
        const size_t texels = face.constant ? 1 : size_t(1) << (ulog2 + vlog2);
        face.texels = in.ConsumeBytes<uint8_t>(texels * texelBytes);
        face.texels.resize(texels * texelBytes, 0x5a);
    }

    const std::string& path = scratchPath();
    Ptex::String error;
    {
        PtexPtr<PtexWriter> writer(
            PtexWriter::open(path.c_str(), meshType, dataType, channels, alpha, numFaces, error, mipmaps));
        if (!writer) mismatch("writer refused a valid layout");
        writer->writeMeta("fuzz", "round trip");
        for (int id = 0; id < numFaces; ++id) {
            FaceRecord& face = faces[id];
            face.written = face.constant ? writer->writeConstantFace(id, face.info, face.texels.data())
                                         : writer->writeFace(id, face.info, face.texels.data());
        }
        if (!writer->close(error)) {
            std::remove(path.c_str());
            return 0;
        }
    }

    PtexPtr<PtexTexture> texture(PtexTexture::open(path.c_str(), error));
    if (!texture) mismatch("written file does not open");
    if (texture->numFaces() != numFaces || texture->numChannels() != channels || texture->alphaChannel() != alpha ||
        texture->dataType() != dataType || texture->meshType() != meshType)
        mismatch("header facts");
    std::vector<uint8_t> readBack;
    for (int id = 0; id < numFaces; ++id) {
        const FaceRecord& face = faces[id];
        if (!face.written) continue;
        const Ptex::FaceInfo& info = texture->getFaceInfo(id);
        if (info.res != face.info.res || info.isSubface() != face.info.isSubface()) mismatch("face info");
        for (int e = 0; e < 4; ++e)
            if (info.adjface(e) != face.info.adjface(e) || info.adjedge(e) != face.info.adjedge(e))
                mismatch("adjacency");
        const size_t texels = size_t(1) << (info.res.ulog2 + info.res.vlog2);
        readBack.assign(texels * texelBytes, 0);
        texture->getData(id, readBack.data(), 0);
        for (size_t t = 0; t < texels; ++t) {
            const uint8_t* expected = face.texels.data() + (face.constant ? 0 : t * texelBytes);
            if (std::memcmp(readBack.data() + t * texelBytes, expected, texelBytes) != 0) mismatch("texels");
        }
    }
    texture.reset();
    std::remove(path.c_str());
    return 0;
}
