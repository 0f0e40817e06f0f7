// PtexCacheImpl: the PtexCache behind PtexCache::create. Textures are shared per key (the
// exact path string given to get), reference counted, purged only once nobody holds them,
// and bounded in open files and decoded memory through a DataResidency.
#pragma once

#include "PtexCacheTraffic.h"
#include "PtexReader.h"
#include "PtexResidency.h"
#include "Ptexture.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

PTEX_NAMESPACE_BEGIN

class PtexCacheImpl final : public PtexCache, public PtexCacheTraffic, private TextureOwner {
public:
    PtexCacheImpl(int maxFiles, size_t maxMem, bool premultiply, PtexInputHandler* inputHandler,
                  PtexErrorHandler* errorHandler);
    ~PtexCacheImpl() override;

    void release() override;
    void setSearchPath(const char* path) override;
    const char* getSearchPath() override { return _searchPath.c_str(); }
    PtexTexture* get(const char* path, Ptex::String& error) override;
    void purge(PtexTexture* texture) override;
    void purge(const char* path) override;
    void purgeAll() override;
    void getStats(Stats& stats) override;
    // PtexCacheTraffic
    void getTraffic(Figures& figures) override;

private:
    struct Entry {
        std::string key;
        std::unique_ptr<PtexReader> reader;
        int refs = 0;
        bool failed = false;
        bool pendingPurge = false;
    };

    void textureReleased(PtexReader* reader) override;
    bool findFile(const std::string& path, std::string& found) const;
    void purgeLocked(Entry& entry);

    const bool _premultiply;
    PtexInputHandler* const _inputHandler;
    PtexErrorHandler* const _errorHandler;
    DataResidency _residency;
    std::string _searchPath;
    std::vector<std::string> _searchDirs;

    std::mutex _mutex;
    std::unordered_map<std::string, std::unique_ptr<Entry>> _entries;
    std::unordered_map<PtexReader*, Entry*> _byReader;
};

PTEX_NAMESPACE_END
