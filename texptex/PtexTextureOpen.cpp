#include "PtexTextureOpen.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#if __has_include(<PtexCacheTraffic.h>)
#include <PtexCacheTraffic.h>
#define TARSK_PTEX_CACHE_TRAFFIC 1
#endif

namespace {

// The library's read errors as errors of the renderer's log. The library reports each error
// once per texture, and the plug-in opens its texture once per frame.
class MessageLogErrorHandler final : public PtexErrorHandler {
public:
    explicit MessageLogErrorHandler(TUtils::TarskMessageLog* log) noexcept : log(log) {}

    void reportError(const char* error) override
    {
        if (!log || !error) return;
        size_t length = strlen(error);
        while (length > 0 && error[length - 1] == '\n') --length;
        log->reportError("%.*s", static_cast<int>(std::min<size_t>(length, INT_MAX)), error);
    }

private:
    TUtils::TarskMessageLog* log;
};

// A texture that owns the private cache it came from: every query goes to the cached texture;
// release() gives back the texture first (a cache release would destroy it at once), then the
// cache, then itself.
class PrivateCacheTexture final : public PtexTexture {
public:
    PrivateCacheTexture(PtexCache* cache, PtexTexture* inner, std::unique_ptr<MessageLogErrorHandler> errors) noexcept
        : cache(cache), inner(inner), errors(std::move(errors))
    {}

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
    PtexCache* privateCache() const noexcept { return cache; }

private:
    ~PrivateCacheTexture() override = default;

    PtexCache* cache;
    PtexTexture* inner;
    std::unique_ptr<MessageLogErrorHandler> errors;  // outlives the cache, which reports to it
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

bool ptexCacheUse(PtexTexture* opened, PtexCacheUse& use) noexcept
{
#ifdef TARSK_PTEX_CACHE_TRAFFIC
    auto* owner = dynamic_cast<PrivateCacheTexture*>(opened);
    auto* traffic = owner ? dynamic_cast<PtexCacheTraffic*>(owner->privateCache()) : nullptr;
    if (!traffic) return false;
    PtexCacheTraffic::Figures figures;
    traffic->getTraffic(figures);
    use.limitBytes = figures.maxMem;
    use.loadedBytes = figures.loadedBytes;
    use.reloadedBytes = figures.reloadedBytes;
    use.workingSetBytes = figures.workingSetBytes;
    return true;
#else
    (void)opened;
    (void)use;
    return false;
#endif
}

PtexTexture* openPtexTexture(const char* path, Ptex::String& error, bool premultiply, int64_t memoryLimit,
                             TUtils::TarskMessageLog* log) noexcept
{
    PtexCache* cache = nullptr;
    PtexTexture* texture = nullptr;
    std::unique_ptr<MessageLogErrorHandler> errors;
    try {
        const int64_t limit = std::max(memoryLimit, kMinPtexCacheBytes);
        // Always a handler of our own: without one the library would print to standard error,
        // also for a scene that turned the log off.
        errors = std::make_unique<MessageLogErrorHandler>(log);
        cache = PtexCache::create(1, static_cast<size_t>(limit), premultiply, nullptr, errors.get());
        if (!cache) {
            error = "cannot create a Ptex cache";
            return nullptr;
        }
        texture = cache->get(path ? path : "", error);
        if (!texture) {
            cache->release();
            return nullptr;
        }
        PtexTexture* owner = new PrivateCacheTexture(cache, texture, std::move(errors));
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
