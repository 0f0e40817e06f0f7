// An in-memory PtexTexture for filter tests: faces with hand-made adjacency, texels from a
// function, every reduced level precomputed, optional tiling. Unlike files written by the
// writer it never sets the neighbourhood-constant flag, so filters do all their work.
#pragma once

#include <Ptexture.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarsk::test {

class MemoryTexture : public PtexTexture {
public:
    struct Layout {
        Ptex::MeshType meshType = Ptex::mt_quad;
        Ptex::DataType dataType = Ptex::dt_float;
        int numChannels = 1;
        Ptex::BorderMode uBorderMode = Ptex::m_clamp;
        Ptex::BorderMode vBorderMode = Ptex::m_clamp;
        Ptex::EdgeFilterMode edgeFilterMode = Ptex::efm_none;
        int tileLog2 = -1;  // levels larger than 2^tileLog2 along an axis are served tiled
    };
    // Raw stored value of texel (x, y), channel c of a face (0..255 for uint8 and so on).
    using TexelFunction = std::function<float(int face, int x, int y, int channel)>;

    // Replaces the computed values of one reduced level (raw values, texel-major).
    struct LevelOverride {
        int face = 0;
        int ulog2 = 0, vlog2 = 0;
        std::vector<float> values;
    };

    // Owned by the caller through release() (or PtexPtr).
    static MemoryTexture* create(const Layout& layout, std::vector<Ptex::FaceInfo> faces, const TexelFunction& texel,
                                 const std::vector<LevelOverride>& overrides = {});

    void release() override;
    const char* path() override { return "memory"; }
    Info getInfo() override;
    // Converted from the raw value, which tests may set outside the enumeration.
    Ptex::MeshType meshType() override { return static_cast<Ptex::MeshType>(meshTypeRaw_); }
    Ptex::DataType dataType() override { return layout_.dataType; }
    Ptex::BorderMode uBorderMode() override { return layout_.uBorderMode; }
    Ptex::BorderMode vBorderMode() override { return layout_.vBorderMode; }
    Ptex::EdgeFilterMode edgeFilterMode() override { return layout_.edgeFilterMode; }
    int alphaChannel() override { return -1; }
    int numChannels() override { return layout_.numChannels; }
    int numFaces() override { return int(faces_.size()); }
    bool hasEdits() override { return false; }
    bool hasMipMaps() override { return true; }
    PtexMetaData* getMetaData() override { return nullptr; }
    const Ptex::FaceInfo& getFaceInfo(int faceid) override;
    void getData(int faceid, void* buffer, int stride) override;
    void getData(int faceid, void* buffer, int stride, Ptex::Res res) override;
    PtexFaceData* getData(int faceid) override;
    PtexFaceData* getData(int faceid, Ptex::Res res) override;
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels) override;
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res) override;

    // Number of getData calls still holding data (not yet released).
    int outstandingData() const;

    class Data;
    struct Face;

private:
    MemoryTexture() = default;
    ~MemoryTexture() override;

    Layout layout_;
    int meshTypeRaw_ = 0;
    std::vector<Ptex::FaceInfo> faces_;
    std::vector<std::unique_ptr<Face>> faceData_;
    Ptex::FaceInfo emptyInfo_;
    std::atomic<int> outstanding_{0};
};

// FaceInfo with adjacency given as plain arrays (the Ptex constructor takes non-const ones).
Ptex::FaceInfo makeFaceInfo(int ulog2, int vlog2, std::vector<int> adjFaces, std::vector<int> adjEdges,
                            bool subface = false);

}  // namespace tarsk::test
