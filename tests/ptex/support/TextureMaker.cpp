// Generated Ptex files for tests, written through our PtexWriter.

#include "TextureMaker.h"

#include <cstring>

namespace tarsk::test {

Ptex::FaceInfo FaceLayout::faceInfo() const
{
    int faces[4], edges[4];
    for (int e = 0; e < 4; ++e) {
        faces[e] = adjfaces[e];
        edges[e] = adjedges[e];
    }
    return Ptex::FaceInfo(res, faces, edges, subface);
}

std::vector<unsigned char> makeFaceTexels(const TextureLayout& texDesc, int faceId)
{
    const FaceLayout& face = texDesc.faces[size_t(faceId)];
    const int ures = face.constant ? 1 : face.res.u(), vres = face.constant ? 1 : face.res.v();
    const int nchan = texDesc.numChannels;
    const int valueSize = Ptex::DataSize(texDesc.dataType);
    std::vector<unsigned char> texels(size_t(ures) * size_t(vres) * size_t(nchan) * size_t(valueSize));
    std::vector<float> values(static_cast<size_t>(nchan));
    for (int v = 0; v < vres; ++v)
        for (int u = 0; u < ures; ++u) {
            for (int c = 0; c < nchan; ++c) values[size_t(c)] = texDesc.texel(faceId, u, v, c);
            unsigned char* out = &texels[(size_t(v) * size_t(ures) + size_t(u)) * size_t(nchan) * size_t(valueSize)];
            Ptex::ConvertFromFloat(out, values.data(), texDesc.dataType, nchan);
        }
    return texels;
}

bool writeTexture(const std::string& path, const TextureLayout& texDesc, std::string& error)
{
    Ptex::String message;
    PtexWriter* writer = PtexWriter::open(path.c_str(), texDesc.meshType, texDesc.dataType, texDesc.numChannels,
                                          texDesc.alphaChannel, int(texDesc.faces.size()), message, texDesc.mipmaps);
    if (!writer) {
        error = message;
        return false;
    }
    writer->setBorderModes(texDesc.uBorderMode, texDesc.vBorderMode);
    writer->setEdgeFilterMode(texDesc.edgeFilterMode);
    for (size_t f = 0; f < texDesc.faces.size(); ++f) {
        const std::vector<unsigned char> texels = makeFaceTexels(texDesc, int(f));
        const Ptex::FaceInfo info = texDesc.faces[f].faceInfo();
        if (texDesc.faces[f].constant)
            writer->writeConstantFace(int(f), info, texels.data());
        else
            writer->writeFace(int(f), info, texels.data());
    }
    const bool ok = writer->close(message);
    writer->release();
    if (!ok) error = message;
    return ok;
}

std::vector<FaceLayout> quadGrid(int nu, int nv, Ptex::Res res)
{
    std::vector<FaceLayout> faces(size_t(nu) * size_t(nv));
    for (int y = 0; y < nv; ++y)
        for (int x = 0; x < nu; ++x) {
            FaceLayout& face = faces[size_t(y * nu + x)];
            face.res = res;
            const int neighbours[4] = {y > 0 ? (y - 1) * nu + x : -1, x + 1 < nu ? y * nu + x + 1 : -1,
                                       y + 1 < nv ? (y + 1) * nu + x : -1, x > 0 ? y * nu + x - 1 : -1};
            for (int e = 0; e < 4; ++e) {
                face.adjfaces[e] = neighbours[e];
                face.adjedges[e] = neighbours[e] >= 0 ? (e + 2) % 4 : 0;
            }
        }
    return faces;
}

std::vector<FaceLayout> triangleGrid(int nu, int nv, int log2)
{
    std::vector<FaceLayout> faces(size_t(nu) * size_t(nv) * 2);
    auto lower = [nu](int x, int y) { return 2 * (y * nu + x); };
    auto upper = [nu](int x, int y) { return 2 * (y * nu + x) + 1; };
    auto link = [&faces](int face, int edge, int other, int otherEdge) {
        faces[size_t(face)].adjfaces[edge] = other;
        faces[size_t(face)].adjedges[edge] = other >= 0 ? otherEdge : 0;
    };
    for (int y = 0; y < nv; ++y)
        for (int x = 0; x < nu; ++x) {
            const int a = lower(x, y), b = upper(x, y);
            faces[size_t(a)].res = faces[size_t(b)].res = Ptex::Res(int8_t(log2), int8_t(log2));
            // Lower-left: bottom edge, hypotenuse, left edge.
            link(a, 0, y > 0 ? upper(x, y - 1) : -1, 0);
            link(a, 1, b, 1);
            link(a, 2, x > 0 ? upper(x - 1, y) : -1, 2);
            // Upper-right: top edge, hypotenuse, right edge.
            link(b, 0, y + 1 < nv ? lower(x, y + 1) : -1, 0);
            link(b, 1, a, 1);
            link(b, 2, x + 1 < nu ? lower(x + 1, y) : -1, 2);
        }
    return faces;
}

TexelFunction faceIdAndUv(const std::vector<FaceLayout>& faces, float scale)
{
    std::vector<Ptex::Res> res;
    for (const FaceLayout& face : faces) res.push_back(face.res);
    return [res, scale](int faceId, int u, int v, int channel) -> float {
        const Ptex::Res r = res[size_t(faceId)];
        switch (channel) {
        case 0: return float(faceId) * scale;
        case 1: return (float(u) + 0.5f) / float(r.u());
        case 2: return (float(v) + 0.5f) / float(r.v());
        default: return 1.0f;
        }
    };
}

}  // namespace tarsk::test
