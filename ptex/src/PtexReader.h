// PtexReader: a Ptex file opened for reading, the PtexTexture behind PtexTexture::open and
// PtexCache::get. Open parses and validates the file's index (FileIndex); face data, tiles,
// reductions and meta data are decoded on first use (PtexBlockDecoder, PtexReductions),
// published without locks for later readers, and may be evicted again under a cache's memory
// limit while no handle holds them.
#pragma once

#include "PtexFaceBlock.h"
#include "PtexFileAccess.h"
#include "PtexFileIndex.h"
#include "PtexMetaDataReader.h"
#include "PtexReadError.h"
#include "PtexReductions.h"
#include "PtexResidency.h"
#include "Ptexture.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

PTEX_NAMESPACE_BEGIN

class ReadSections;
class PtexReader;

// Told when a caller releases a texture it got from a cache.
class TextureOwner {
public:
    virtual void textureReleased(PtexReader* reader) = 0;

protected:
    ~TextureOwner() {}
};

class PtexReader final : public PtexTexture,
                         private FileAccess::Observer,
                         private MetaDataSource,
                         public ResidentBlockOwner,
                         public OpenFileOwner {
public:
    struct Setup {
        bool premultiply = false;
        PtexInputHandler* inputHandler = nullptr;  // null: plain files
        PtexErrorHandler* errorHandler = nullptr;  // null: standard error
        DataResidency* residency = nullptr;        // null: no limits (uncached texture)
        TextureOwner* owner = nullptr;             // null: release() destroys the texture
    };

    // Opens and validates the file; on failure returns null and sets error.
    static std::unique_ptr<PtexReader> open(const char* path, const Setup& setup, std::string& error);
    ~PtexReader() override;

    // PtexTexture
    void release() override;
    const char* path() override { return _file.path().c_str(); }
    Info getInfo() override;
    Ptex::MeshType meshType() override { return MeshType(_index.header.meshtype); }
    Ptex::DataType dataType() override { return _index.dataType(); }
    Ptex::BorderMode uBorderMode() override { return BorderMode(_index.extHeader.ubordermode); }
    Ptex::BorderMode vBorderMode() override { return BorderMode(_index.extHeader.vbordermode); }
    Ptex::EdgeFilterMode edgeFilterMode() override { return EdgeFilterMode(_index.extHeader.edgefiltermode); }
    int alphaChannel() override { return _index.header.alphachan; }
    int numChannels() override { return _index.header.nchannels; }
    int numFaces() override { return _index.numFaces(); }
    bool hasEdits() override { return _index.hasEdits; }
    bool hasMipMaps() override { return _index.header.nlevels > 1; }
    PtexMetaData* getMetaData() override;
    const Ptex::FaceInfo& getFaceInfo(int faceid) override;
    void getData(int faceid, void* buffer, int stride) override;
    void getData(int faceid, void* buffer, int stride, Ptex::Res res) override;
    PtexFaceData* getData(int faceid) override;
    PtexFaceData* getData(int faceid, Ptex::Res res) override;
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels) override;
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res) override;

    // True once a read after open failed: every data request then answers zeros.
    bool inErrorState() const { return _error.load(std::memory_order_acquire); }
    int pixelSize() const { return _index.pixelSize; }

    // Read sections of the cache this texture belongs to; null for an uncached texture, whose
    // data are never evicted (so a filter reads them without handles and without sections).
    std::shared_ptr<ReadSections> readSections() const;

    // getData and getPixel for a caller inside a read section (or on an uncached texture):
    // nothing returned needs a release.
    PtexFaceData* getData(int faceid, Ptex::Res res, Hold hold);
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res, Hold hold);

    // Used by FaceBlock (getTile for handle and section readers).
    PtexFaceData* acquireTile(FaceBlock& face, int tile, Hold hold);
    void blockReleased(FaceBlock& block);
    // Reports an error found while reading; the texture enters the error state.
    void reportReadError(const ReadError& error);

    // ResidentBlockOwner, OpenFileOwner: called by the residency.
    bool tryEvict(FaceBlock& block, ReadSections& sections) override;
    bool tryCloseFile() override;

private:
    struct LevelTable {
        std::vector<PtexIO::FaceDataHeader> headers;
        std::vector<uint64_t> offsets;
        std::unique_ptr<std::atomic<FaceBlock*>[]> blocks;
        std::vector<std::unique_ptr<FaceBlock>> owned;  // guarded by _mutex
    };
    // Dynamic reductions of one face, indexed by (ulog2, vlog2) of the result.
    struct ReductionTable {
        int vsize = 0;
        std::unique_ptr<std::atomic<FaceBlock*>[]> blocks;
        std::vector<std::unique_ptr<FaceBlock>> owned;  // guarded by _mutex
    };

    PtexReader(const char* path, const Setup& setup);
    bool openFile(ReadError& error);
    void accountMemory(int64_t bytes);

    // FileAccess::Observer
    void handleOpened() override;
    void handleClosed() override;
    void seeked() override;
    // MetaDataSource
    bool readMetaDataBlock(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize) override;
    void reportMetaDataError(ReadErrorCode code) override { reportReadError(ReadError(code)); }
    void accountMetaDataMemory(int64_t bytes) override { accountMemory(bytes); }

    // Under _mutex.
    LevelTable* levelTable(int level);
    LevelTable* loadLevelLocked(int level);
    bool decodeLocked(FaceBlock& block, PtexIO::FaceDataHeader header, uint64_t pos);
    void publishLocked(FaceBlock& block, Hold hold);
    bool take(FaceBlock& block, Hold hold);
    void afterLoad();

    PtexFaceData* errorFace() { return &_errorFace; }
    ReductionSource reductionSource();
    bool readResidentTexel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Hold hold);
    PtexFaceData* acquireLevelFace(int level, int index, int faceid, Hold hold);
    PtexFaceData* acquireReduction(int faceid, Res res, Hold hold);
    PtexFaceData* reductionError(int faceid, Res res, const char* message);
    PtexFaceData* publishComputed(std::atomic<FaceBlock*>& slot, std::vector<std::unique_ptr<FaceBlock>>& owned,
                                  std::unique_ptr<FaceBlock> computed, Hold hold);

    // Immutable after open.
    Setup _setup;
    FileIndex _index;
    std::vector<ConstantFaceData> _constFaces;
    std::unique_ptr<uint8_t[]> _zeroTexel;
    ConstantFaceData _errorFace;
    FaceInfo _defaultFaceInfo;

    // Loaded on demand, published with release stores, read without the lock.
    std::unique_ptr<std::atomic<LevelTable*>[]> _levels;
    std::vector<std::unique_ptr<LevelTable>> _ownedLevels;
    std::unique_ptr<std::atomic<ReductionTable*>[]> _reductions;
    std::vector<std::unique_ptr<ReductionTable>> _ownedReductions;
    std::atomic<PtexMetaDataReader*> _metaData{nullptr};
    std::unique_ptr<PtexMetaDataReader> _ownedMetaData;

    std::atomic<bool> _error{false};
    std::mutex _mutex;  // file reads and every structural change
    FileAccess _file;   // guarded by _mutex
    std::mutex _warnMutex;
    std::set<std::pair<int, uint16_t>> _warned;
    std::atomic<int64_t> _memory{0};  // everything this reader accounted to the residency
};

PTEX_NAMESPACE_END
