// In-memory texture for filter tests. All levels are built at creation, so concurrent
// readers only read.
#include "MemoryTexture.h"

#include <PtexHalf.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace tarsk::test {

namespace {

void storeValue(Ptex::DataType dt, float value, unsigned char* dst)
{
    switch (dt) {
    case Ptex::dt_uint8: {
        uint8_t v = uint8_t(std::min(255.0f, std::max(0.0f, std::round(value))));
        std::memcpy(dst, &v, 1);
        break;
    }
    case Ptex::dt_uint16: {
        uint16_t v = uint16_t(std::min(65535.0f, std::max(0.0f, std::round(value))));
        std::memcpy(dst, &v, 2);
        break;
    }
    case Ptex::dt_half: {
        PtexHalf h(value);
        std::memcpy(dst, &h, 2);
        break;
    }
    case Ptex::dt_float: std::memcpy(dst, &value, 4); break;
    }
}

}  // namespace

// One block of data: constant (one texel), packed, or tiled.
class MemoryTexture::Data : public PtexFaceData {
public:
    Data(std::atomic<int>* outstanding, int pixelSize) : outstanding_(outstanding), pixelSize_(pixelSize) {}
    void release() override { outstanding_->fetch_sub(1); }
    bool isConstant() override { return constant_; }
    Ptex::Res res() override { return constant_ ? Ptex::Res(0, 0) : res_; }
    void getPixel(int u, int v, void* result) override
    {
        if (constant_) {
            std::memcpy(result, texels_.data(), size_t(pixelSize_));
            return;
        }
        if (u < 0 || v < 0 || u >= res_.u() || v >= res_.v()) {
            std::memset(result, 0, size_t(pixelSize_));
            return;
        }
        if (!tiles_.empty()) {
            const int tw = tileRes_.u(), th = tileRes_.v();
            tiles_[size_t((v / th) * (res_.u() / tw) + u / tw)]->getPixel(u % tw, v % th, result);
            return;
        }
        std::memcpy(result, texels_.data() + (size_t(v) * res_.u() + u) * pixelSize_, size_t(pixelSize_));
    }
    void* getData() override { return tiles_.empty() ? texels_.data() : nullptr; }
    bool isTiled() override { return !tiles_.empty(); }
    Ptex::Res tileRes() override { return tiles_.empty() ? res_ : tileRes_; }
    PtexFaceData* getTile(int tile) override
    {
        if (tile < 0 || tile >= int(tiles_.size())) return nullptr;
        outstanding_->fetch_add(1);
        return tiles_[size_t(tile)].get();
    }

    std::atomic<int>* outstanding_;
    int pixelSize_;
    bool constant_ = false;
    Ptex::Res res_;
    Ptex::Res tileRes_;
    std::vector<unsigned char> texels_;
    std::vector<std::unique_ptr<Data>> tiles_;
};

struct MemoryTexture::Face {
    // levels[a * (vlog2 + 1) + b] holds level (a, b).
    std::vector<std::unique_ptr<Data>> levels;
    int vlog2 = 0;
    Data* level(int a, int b) { return levels[size_t(a * (vlog2 + 1) + b)].get(); }
};

MemoryTexture* MemoryTexture::create(const Layout& layout, std::vector<Ptex::FaceInfo> faces,
                                     const TexelFunction& texel, const std::vector<LevelOverride>& overrides)
{
    struct Releaser {
        void operator()(MemoryTexture* t) const { t->release(); }
    };
    std::unique_ptr<MemoryTexture, Releaser> tx(new MemoryTexture());
    tx->layout_ = layout;
    std::memcpy(&tx->meshTypeRaw_, &layout.meshType, sizeof tx->meshTypeRaw_);
    tx->faces_ = std::move(faces);
    const int nc = layout.numChannels;
    const int pixelSize = Ptex::DataSize(layout.dataType) * nc;
    std::atomic<int>* outstanding = &tx->outstanding_;

    for (size_t f = 0; f < tx->faces_.size(); f++) {
        const Ptex::FaceInfo& info = tx->faces_[f];
        const int ru = info.res.ulog2, rv = info.res.vlog2;
        const int U = 1 << ru, V = 1 << rv;
        std::vector<float> full(size_t(U) * V * nc);
        for (int y = 0; y < V; y++)
            for (int x = 0; x < U; x++)
                for (int c = 0; c < nc; c++) full[(size_t(y) * U + x) * nc + c] = texel(int(f), x, y, c);

        auto face = std::make_unique<Face>();
        face->vlog2 = rv;
        for (int a = 0; a <= ru; a++) {
            for (int b = 0; b <= rv; b++) {
                auto data = std::make_unique<Data>(outstanding, pixelSize);
                const int lu = 1 << a, lv = 1 << b, bu = U / lu, bv = V / lv;
                std::vector<unsigned char> texels(size_t(lu) * lv * pixelSize);
                for (int y = 0; y < lv; y++)
                    for (int x = 0; x < lu; x++)
                        for (int c = 0; c < nc; c++) {
                            double sum = 0;
                            for (int j = 0; j < bv; j++)
                                for (int i = 0; i < bu; i++)
                                    sum += full[(size_t(y * bv + j) * U + size_t(x * bu + i)) * nc + c];
                            storeValue(layout.dataType, float(sum / (double(bu) * bv)),
                                       texels.data() + (size_t(y) * lu + x) * pixelSize +
                                           size_t(c) * Ptex::DataSize(layout.dataType));
                        }
                for (const LevelOverride& o : overrides) {
                    if (o.face != int(f) || o.ulog2 != a || o.vlog2 != b) continue;
                    for (size_t i = 0; i < o.values.size() && i < size_t(lu) * lv * nc; i++)
                        storeValue(layout.dataType, o.values[i],
                                   texels.data() + i * size_t(Ptex::DataSize(layout.dataType)));
                }
                const bool constant = info.isConstant() || (a == 0 && b == 0);
                data->res_ = Ptex::Res(int8_t(a), int8_t(b));
                if (constant) {
                    data->constant_ = true;
                    // A constant face holds its average everywhere; (0,0) is the face's average.
                    if (a == 0 && b == 0)
                        data->texels_.assign(texels.begin(), texels.begin() + pixelSize);
                    else
                        data->texels_.clear();
                } else if (layout.tileLog2 >= 0 && (a > layout.tileLog2 || b > layout.tileLog2)) {
                    const int ta = std::min(a, layout.tileLog2), tb = std::min(b, layout.tileLog2);
                    const int tw = 1 << ta, th = 1 << tb, ntu = lu / tw, ntv = lv / th;
                    data->tileRes_ = Ptex::Res(int8_t(ta), int8_t(tb));
                    for (int ty = 0; ty < ntv; ty++)
                        for (int tx2 = 0; tx2 < ntu; tx2++) {
                            auto tile = std::make_unique<Data>(outstanding, pixelSize);
                            tile->res_ = data->tileRes_;
                            tile->texels_.resize(size_t(tw) * th * pixelSize);
                            for (int y = 0; y < th; y++)
                                std::memcpy(tile->texels_.data() + size_t(y) * tw * pixelSize,
                                            texels.data() + (size_t(ty * th + y) * lu + size_t(tx2 * tw)) * pixelSize,
                                            size_t(tw) * pixelSize);
                            bool same = true;
                            for (size_t i = size_t(pixelSize); i < tile->texels_.size() && same; i++)
                                same = tile->texels_[i] == tile->texels_[i % size_t(pixelSize)];
                            if (same) {
                                tile->constant_ = true;
                                tile->texels_.resize(size_t(pixelSize));
                            }
                            data->tiles_.push_back(std::move(tile));
                        }
                } else {
                    data->texels_ = std::move(texels);
                }
                face->levels.push_back(std::move(data));
            }
        }
        // Constant faces: every level is the (0,0) value.
        if (info.isConstant()) {
            const std::vector<unsigned char> value = face->level(0, 0)->texels_;
            for (auto& level : face->levels) level->texels_ = value;
        }
        tx->faceData_.push_back(std::move(face));
    }
    return tx.release();
}

MemoryTexture::~MemoryTexture() = default;

void MemoryTexture::release() { delete this; }

PtexTexture::Info MemoryTexture::getInfo()
{
    Info info;
    info.meshType = meshType();
    info.dataType = layout_.dataType;
    info.uBorderMode = layout_.uBorderMode;
    info.vBorderMode = layout_.vBorderMode;
    info.edgeFilterMode = layout_.edgeFilterMode;
    info.alphaChannel = -1;
    info.numChannels = layout_.numChannels;
    info.numFaces = numFaces();
    return info;
}

const Ptex::FaceInfo& MemoryTexture::getFaceInfo(int faceid)
{
    if (faceid < 0 || faceid >= numFaces()) return emptyInfo_;
    return faces_[size_t(faceid)];
}

void MemoryTexture::getData(int faceid, void* buffer, int stride)
{
    getData(faceid, buffer, stride, getFaceInfo(faceid).res);
}

void MemoryTexture::getData(int, void*, int, Ptex::Res) {}

PtexFaceData* MemoryTexture::getData(int faceid) { return getData(faceid, getFaceInfo(faceid).res); }

PtexFaceData* MemoryTexture::getData(int faceid, Ptex::Res res)
{
    if (faceid < 0 || faceid >= numFaces()) return nullptr;
    const Ptex::FaceInfo& info = faces_[size_t(faceid)];
    if (res.ulog2 < 0 || res.vlog2 < 0 || res.ulog2 > info.res.ulog2 || res.vlog2 > info.res.vlog2) return nullptr;
    outstanding_.fetch_add(1);
    return faceData_[size_t(faceid)]->level(res.ulog2, res.vlog2);
}

void MemoryTexture::getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels)
{
    getPixel(faceid, u, v, result, firstchan, nchannels, getFaceInfo(faceid).res);
}

void MemoryTexture::getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res)
{
    std::fill(result, result + std::max(nchannels, 0), 0.0f);
    nchannels = std::min(nchannels, layout_.numChannels - firstchan);
    if (nchannels <= 0 || firstchan < 0) return;
    PtexFaceData* data = getData(faceid, res);
    if (!data) return;
    std::vector<unsigned char> texel(size_t(Ptex::DataSize(layout_.dataType)) * layout_.numChannels);
    data->getPixel(u, v, texel.data());
    data->release();
    Ptex::ConvertToFloat(result, texel.data() + size_t(firstchan) * Ptex::DataSize(layout_.dataType), layout_.dataType,
                         nchannels);
}

int MemoryTexture::outstandingData() const { return outstanding_.load(); }

Ptex::FaceInfo makeFaceInfo(int ulog2, int vlog2, std::vector<int> adjFaces, std::vector<int> adjEdges, bool subface)
{
    int faces[4] = {-1, -1, -1, -1};
    int edges[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 4 && i < adjFaces.size(); i++) faces[i] = adjFaces[i];
    for (size_t i = 0; i < 4 && i < adjEdges.size(); i++) edges[i] = adjEdges[i];
    return Ptex::FaceInfo(Ptex::Res(int8_t(ulog2), int8_t(vlog2)), faces, edges, subface);
}

}  // namespace tarsk::test
