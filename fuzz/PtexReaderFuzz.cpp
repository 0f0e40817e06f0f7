// Fuzz target: any bytes as a Ptex file. Opens them through a memory input handler, reads the
// header facts, every face at every resolution (whole, tiled and per texel), the meta data, and
// filters a few points with each filter type. Only crashes, sanitizer reports and hangs count.
#include "MemoryInput.h"

#include <Ptexture.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// Bounds that keep one input fast: a valid header can promise 2^31 faces of 2^30 texels.
constexpr int kMaxFacesRead = 64;
constexpr int kMaxTexelsLog2 = 16;
constexpr size_t kCacheBytes = 8 << 20;

void readMetaData(PtexTexture& texture)
{
    PtexPtr<PtexMetaData> meta(texture.getMetaData());
    if (!meta) return;
    const int keys = std::min(meta->numKeys(), 256);
    for (int i = 0; i < keys; ++i) {
        const char* key = nullptr;
        Ptex::MetaDataType type = Ptex::mdt_string;
        meta->getKey(i, key, type);
        int count = 0;
        switch (type) {
        case Ptex::mdt_string: {
            const char* v = nullptr;
            meta->getValue(i, v);
            break;
        }
        case Ptex::mdt_int8: {
            const int8_t* v = nullptr;
            meta->getValue(i, v, count);
            break;
        }
        case Ptex::mdt_int16: {
            const int16_t* v = nullptr;
            meta->getValue(i, v, count);
            break;
        }
        case Ptex::mdt_int32: {
            const int32_t* v = nullptr;
            meta->getValue(i, v, count);
            break;
        }
        case Ptex::mdt_float: {
            const float* v = nullptr;
            meta->getValue(i, v, count);
            break;
        }
        case Ptex::mdt_double: {
            const double* v = nullptr;
            meta->getValue(i, v, count);
            break;
        }
        }
        int found = 0;
        if (key) meta->findKey(key, found, type);
    }
}

void readFace(PtexTexture& texture, int faceId, std::vector<float>& pixel, std::vector<uint8_t>& buffer)
{
    const Ptex::FaceInfo& info = texture.getFaceInfo(faceId);
    if (info.res.ulog2 < 0 || info.res.vlog2 < 0 || info.res.ulog2 > 30 || info.res.vlog2 > 30)
        return;  // the reader must have refused such a face; reading it would be our fault
    const int channels = texture.numChannels();
    const int texelBytes = Ptex::DataSize(texture.dataType()) * channels;
    // Every reduction from the stored resolution down to 1x1, one axis at a time and both.
    for (int ulog2 = info.res.ulog2; ulog2 >= 0; --ulog2) {
        for (int vlog2 = info.res.vlog2; vlog2 >= 0; --vlog2) {
            if (ulog2 != info.res.ulog2 && vlog2 != info.res.vlog2 && ulog2 != vlog2) continue;
            const Ptex::Res res(static_cast<int8_t>(ulog2), static_cast<int8_t>(vlog2));
            if (ulog2 + vlog2 > kMaxTexelsLog2) continue;
            buffer.resize((size_t(1) << (ulog2 + vlog2)) * texelBytes + 16);
            texture.getData(faceId, buffer.data(), 0, res);
            PtexPtr<PtexFaceData> data(texture.getData(faceId, res));
            if (data) {
                data->getData();
                data->getPixel(0, 0, buffer.data());
                data->getPixel(res.u() - 1, res.v() - 1, buffer.data());
                if (data->isTiled()) {
                    // A tile larger than its face would make the tile count a negative shift.
                    const Ptex::Res tileRes = data->tileRes();
                    const bool tileFits = tileRes.ulog2 >= 0 && tileRes.vlog2 >= 0 && tileRes.ulog2 <= res.ulog2 &&
                                          tileRes.vlog2 <= res.vlog2;
                    const int tiles = tileFits ? res.ntiles(tileRes) : 0;
                    for (int tile = 0; tile < std::min(tiles, 64); ++tile) {
                        PtexPtr<PtexFaceData> t(data->getTile(tile));
                        if (t) t->getData();
                    }
                }
            }
            texture.getPixel(faceId, res.u() / 2, res.v() / 2, pixel.data(), 0, channels, res);
        }
    }
    texture.getPixel(faceId, 0, 0, pixel.data(), 0, channels);
}

void filterPoints(PtexTexture& texture, std::vector<float>& pixel)
{
    const int faces = std::min(texture.numFaces(), kMaxFacesRead);
    const int channels = texture.numChannels();
    for (int type = PtexFilter::f_point; type <= PtexFilter::f_mitchell; ++type) {
        const PtexFilter::Options options(static_cast<PtexFilter::FilterType>(type), type % 2 == 0, 0.5f);
        PtexPtr<PtexFilter> filter(PtexFilter::getFilter(&texture, options));
        if (!filter) continue;
        for (int face = 0; face < faces; ++face) {
            filter->eval(pixel.data(), 0, channels, face, 0.5f, 0.5f, 0.1f, 0, 0, 0.1f);
            filter->eval(pixel.data(), 0, channels, face, 0.01f, 0.99f, 0.6f, 0.2f, 0.1f, 0.7f);
            filter->eval(pixel.data(), 0, channels, face, 0.99f, 0.01f, 0.001f, 0, 0, 0.001f, 2.0f, 0.1f);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    tarsk::fuzz::MemoryInput input(bytes, size);
    for (bool premultiply : {false, true}) {
        PtexPtr<PtexCache> cache(PtexCache::create(4, kCacheBytes, premultiply, &input));
        Ptex::String error;
        PtexPtr<PtexTexture> texture(cache->get("fuzz.ptx", error));
        if (!texture) return 0;
        texture->getInfo();
        texture->hasEdits();
        texture->hasMipMaps();
        readMetaData(*texture);
        // Channel counts are a byte in the header; room for all of them plus slack.
        std::vector<float> pixel(static_cast<size_t>(std::max(texture->numChannels(), 1)) + 4);
        std::vector<uint8_t> buffer;
        const int faces = std::min(texture->numFaces(), kMaxFacesRead);
        for (int face = 0; face < faces; ++face) readFace(*texture, face, pixel, buffer);
        // Ids outside the file must be answered with a neutral result.
        texture->getFaceInfo(-1);
        texture->getFaceInfo(texture->numFaces());
        filterPoints(*texture, pixel);
    }
    return 0;
}
