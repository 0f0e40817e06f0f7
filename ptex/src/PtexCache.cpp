// The texture cache: lookup by key, search path, reference counts, deferred purges, stats.

#include "PtexCache.h"

#include <sys/stat.h>

#include <new>

PTEX_NAMESPACE_BEGIN

PtexCacheImpl::PtexCacheImpl(int maxFiles, size_t maxMem, bool premultiply, PtexInputHandler* inputHandler,
                             PtexErrorHandler* errorHandler)
    : _premultiply(premultiply), _inputHandler(inputHandler), _errorHandler(errorHandler), _residency(maxFiles, maxMem)
{
    // The cache's own memory is counted with its textures': the cache object, and per path
    // its entry with the key and the table's bookkeeping.
    _residency.addMemory(int64_t(sizeof(*this)));
}

namespace {

int64_t entryBytes(const std::string& key) { return int64_t(sizeof(void*) * 8 + key.capacity() + 64); }

}  // namespace

PtexCacheImpl::~PtexCacheImpl()
{
    // Destroys every texture now, also those still held (the caller must not use them).
    std::lock_guard<std::mutex> lock(_mutex);
    _byReader.clear();
    _entries.clear();
}

void PtexCacheImpl::release() { delete this; }

void PtexCacheImpl::setSearchPath(const char* path)
{
    _searchPath = path ? path : "";
    _searchDirs.clear();
    size_t start = 0;
    while (start <= _searchPath.size()) {
        size_t end = _searchPath.find(':', start);
        if (end == std::string::npos) end = _searchPath.size();
        if (end > start) _searchDirs.push_back(_searchPath.substr(start, end - start));
        start = end + 1;
    }
}

bool PtexCacheImpl::findFile(const std::string& path, std::string& found) const
{
    if ((!path.empty() && path[0] == '/') || _searchDirs.empty()) {
        found = path;
        return true;
    }
    for (const std::string& dir : _searchDirs) {
        std::string candidate = dir + "/" + path;
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0) {
            found = candidate;
            return true;
        }
    }
    return false;
}

PtexTexture* PtexCacheImpl::get(const char* path, Ptex::String& error)
{
    const std::string key = path ? path : "";
    try {
        std::lock_guard<std::mutex> lock(_mutex);
        std::unique_ptr<Entry>& slot = _entries[key];
        if (!slot) {
            slot = std::make_unique<Entry>();
            slot->key = key;
            _residency.addMemory(int64_t(sizeof(Entry)) + entryBytes(key));
        }
        Entry& entry = *slot;
        if (entry.failed) return nullptr;
        if (entry.reader && entry.reader->inErrorState()) return nullptr;
        if (entry.reader && entry.pendingPurge && entry.refs == 0) purgeLocked(entry);
        if (!entry.reader) {
            std::string found = key;
            if (!_inputHandler && !findFile(key, found)) {
                error = "Can't find ptex file: " + key;
                entry.failed = true;
                return nullptr;
            }
            PtexReader::Setup setup;
            setup.premultiply = _premultiply;
            setup.inputHandler = _inputHandler;
            setup.errorHandler = _errorHandler;
            setup.residency = &_residency;
            setup.owner = this;
            std::string openError;
            std::unique_ptr<PtexReader> reader = PtexReader::open(found.c_str(), setup, openError);
            if (!reader) {
                error = openError;
                entry.failed = true;
                return nullptr;
            }
            entry.reader = std::move(reader);
            _byReader[entry.reader.get()] = &entry;
        }
        ++entry.refs;
        return entry.reader.get();
    } catch (const std::exception&) {
        error = "PtexCache error: out of memory";
        return nullptr;
    }
}

void PtexCacheImpl::purgeLocked(Entry& entry)
{
    if (entry.reader) _byReader.erase(entry.reader.get());
    entry.reader.reset();
    entry.pendingPurge = false;
    entry.failed = false;
}

void PtexCacheImpl::textureReleased(PtexReader* reader)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto found = _byReader.find(reader);
    if (found == _byReader.end()) return;
    Entry& entry = *found->second;
    if (entry.refs > 0) --entry.refs;
    // A purge requested while the texture was held happens once the last holder let go, so
    // a held texture never loses its data underneath its holders.
    if (entry.refs == 0 && entry.pendingPurge) purgeLocked(entry);
}

void PtexCacheImpl::purge(PtexTexture* texture)
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (auto& item : _byReader) {
        if (static_cast<PtexTexture*>(item.first) != texture) continue;
        Entry& entry = *item.second;
        if (entry.refs == 0)
            purgeLocked(entry);
        else
            entry.pendingPurge = true;
        return;
    }
}

void PtexCacheImpl::purge(const char* path)
{
    std::lock_guard<std::mutex> lock(_mutex);
    auto found = _entries.find(path ? path : "");
    if (found == _entries.end()) return;
    Entry& entry = *found->second;
    if (entry.refs == 0)
        purgeLocked(entry);
    else
        entry.pendingPurge = true;
}

void PtexCacheImpl::purgeAll()
{
    std::lock_guard<std::mutex> lock(_mutex);
    for (auto& item : _entries) {
        Entry& entry = *item.second;
        if (entry.refs == 0)
            purgeLocked(entry);
        else
            entry.pendingPurge = true;
    }
}

void PtexCacheImpl::getStats(Stats& stats)
{
    uint64_t keys = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        keys = _entries.size();
    }
    stats.memUsed = _residency.memUsed();
    stats.peakMemUsed = std::max<uint64_t>(_residency.peakMemUsed(), stats.memUsed);
    stats.filesOpen = _residency.files().filesOpen();
    stats.peakFilesOpen = _residency.files().peakFilesOpen();
    stats.filesAccessed = keys;
    const uint64_t opens = _residency.files().totalOpens();
    stats.fileReopens = opens > keys ? opens - keys : 0;
    stats.blockReads = _residency.blockReads();
}

void PtexCacheImpl::getTraffic(Figures& figures)
{
    figures.maxMem = _residency.maxMem();
    figures.loadedBytes = _residency.loadedBytes();
    figures.reloadedBytes = _residency.reloadedBytes();
    figures.workingSetBytes = _residency.peakWorkingSet();
}

PtexCache* PtexCache::create(int maxFiles, size_t maxMem, bool premultiply, PtexInputHandler* inputHandler,
                             PtexErrorHandler* errorHandler)
{
    return new (std::nothrow) PtexCacheImpl(maxFiles, maxMem, premultiply, inputHandler, errorHandler);
}

PTEX_NAMESPACE_END
