// TextureMaker: writes a Ptex file from a short description (mesh type, data type, channels,
// per-face resolution and adjacency, a texel function), for tests that need generated textures,
// for instance textures whose texels encode their own face id and (u, v).
#pragma once

#include <Ptexture.h>

#include <functional>
#include <string>
#include <vector>

namespace tarsk::test {

struct FaceLayout {
    Ptex::Res res;
    int adjfaces[4] = {-1, -1, -1, -1};
    int adjedges[4] = {0, 0, 0, 0};
    bool subface = false;
    bool constant = false;  // written with writeConstantFace, value = texel(face, 0, 0, c)

    Ptex::FaceInfo faceInfo() const;
};

// Value of channel `channel` of texel (u, v) (texel indices) of face `faceId`. For uint8 and
// uint16 files the value is in 0..1 and converted with Ptex::ConvertFromFloat; half and float
// files store it as given.
using TexelFunction = std::function<float(int faceId, int u, int v, int channel)>;

struct TextureLayout {
    Ptex::MeshType meshType = Ptex::mt_quad;
    Ptex::DataType dataType = Ptex::dt_float;
    int numChannels = 1;
    int alphaChannel = -1;
    bool mipmaps = true;
    Ptex::BorderMode uBorderMode = Ptex::m_clamp;
    Ptex::BorderMode vBorderMode = Ptex::m_clamp;
    Ptex::EdgeFilterMode edgeFilterMode = Ptex::efm_none;
    std::vector<FaceLayout> faces;
    TexelFunction texel;
};

// Writes the texture; false with `error` set when the writer refuses.
bool writeTexture(const std::string& path, const TextureLayout& texDesc, std::string& error);

// Interleaved texels of one face in the file's data type, as writeTexture writes them.
std::vector<unsigned char> makeFaceTexels(const TextureLayout& texDesc, int faceId);

// nu x nv quads, face id = y * nu + x, every face at `res`, edges 0..3 = bottom, right, top,
// left neighbours (their edges 2, 3, 0, 1).
std::vector<FaceLayout> quadGrid(int nu, int nv, Ptex::Res res);

// nu x nv cells split into two triangles each: face 2c is the lower-left triangle of cell c
// (corners (x,y), (x+1,y), (x,y+1)), face 2c+1 the upper-right one (corners (x+1,y+1),
// (x,y+1), (x+1,y)); cell c = y * nu + x. Every face at (log2, log2).
std::vector<FaceLayout> triangleGrid(int nu, int nv, int log2);

// A texel function for identification: channel 0 = faceId * scale, channel 1 = u centre,
// channel 2 = v centre (in 0..1 of the face), further channels 1. Use with float or half data.
TexelFunction faceIdAndUv(const std::vector<FaceLayout>& faces, float scale = 1.0f);

}  // namespace tarsk::test
