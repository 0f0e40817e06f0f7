#include "PtexTextureOpen.h"

#include <algorithm>
#include <new>

namespace {

// A texture that owns the private cache it came from: every query goes to the cached texture;
// release() gives back the texture first (a cache release would destroy it at once), then the
// cache, then itself.
class PrivateCacheTexture final : public PtexTexture {
public:
    PrivateCacheTexture(PtexCache* cache, PtexTexture* inner) noexcept : cache(cache), inner(inner) {}

    void release() override
    {
        inner->release();
        cache->release();
        delete this;
    }
    const char* path() override { return inner->path(); }
    Info getInfo() override { return inner->getInfo(); }
    Ptex::MeshType meshType() override { return inner->meshType(); }
    Ptex::DataType dataType() override { return inner->dataType(); }
    Ptex::BorderMode uBorderMode() override { return inner->uBorderMode(); }
    Ptex::BorderMode vBorderMode() override { return inner->vBorderMode(); }
    Ptex::EdgeFilterMode edgeFilterMode() override { return inner->edgeFilterMode(); }
    int alphaChannel() override { return inner->alphaChannel(); }
    int numChannels() override { return inner->numChannels(); }
    int numFaces() override { return inner->numFaces(); }
    bool hasEdits() override { return inner->hasEdits(); }
    bool hasMipMaps() override { return inner->hasMipMaps(); }
    PtexMetaData* getMetaData() override { return inner->getMetaData(); }
    const Ptex::FaceInfo& getFaceInfo(int faceid) override { return inner->getFaceInfo(faceid); }
    void getData(int faceid, void* buffer, int stride) override { inner->getData(faceid, buffer, stride); }
    void getData(int faceid, void* buffer, int stride, Ptex::Res res) override
    {
        inner->getData(faceid, buffer, stride, res);
    }
    PtexFaceData* getData(int faceid) override { return inner->getData(faceid); }
    PtexFaceData* getData(int faceid, Ptex::Res res) override { return inner->getData(faceid, res); }
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels) override
    {
        inner->getPixel(faceid, u, v, result, firstchan, nchannels);
    }
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res) override
    {
        inner->getPixel(faceid, u, v, result, firstchan, nchannels, res);
    }

    PtexTexture* cached() const noexcept { return inner; }

private:
    ~PrivateCacheTexture() override = default;

    PtexCache* cache;
    PtexTexture* inner;
};

}  // namespace

int64_t ptexCacheLimitBytes(int32_t cacheSizeMegabytes) noexcept
{
    return std::max<int64_t>(int64_t{cacheSizeMegabytes} * 1048576, kMinPtexCacheBytes);
}

PtexTexture* cachedTexture(PtexTexture* opened) noexcept
{
    auto* owner = dynamic_cast<PrivateCacheTexture*>(opened);
    return owner ? owner->cached() : opened;
}

PtexTexture* openPtexTexture(const char* path, Ptex::String& error, bool premultiply, int64_t memoryLimit) noexcept
{
    PtexCache* cache = nullptr;
    PtexTexture* texture = nullptr;
    try {
        const int64_t limit = std::max(memoryLimit, kMinPtexCacheBytes);
        cache = PtexCache::create(1, static_cast<size_t>(limit), premultiply, nullptr);
        if (!cache) {
            error = "cannot create a Ptex cache";
            return nullptr;
        }
        texture = cache->get(path ? path : "", error);
        if (!texture) {
            cache->release();
            return nullptr;
        }
        PtexTexture* owner = new PrivateCacheTexture(cache, texture);
        // The cache lets go of its own hold on the file; the texture keeps its reference and
        // stays usable until its release.
        cache->purgeAll();
        return owner;
    } catch (...) {
        // Only an allocation can fail here; setting the message may itself fail then.
        try {
            error = "out of memory while opening the Ptex file";
        } catch (...) {}
    }
    if (texture) texture->release();
    if (cache) cache->release();
    return nullptr;
}
