// PtexReader: a Ptex file opened for reading, the PtexTexture behind PtexTexture::open and
// PtexCache::get. Open validates the whole file structure against the file size and reads the
// per-file base data (header, face info, constant data, level info, edits); face data, tiles,
// reductions and meta data are decoded on first use, published without locks for later
// readers, and may be evicted again under a cache's memory limit while no handle holds them.
#pragma once

#include "PtexFaceBlock.h"
#include "PtexIO.h"
#include "Ptexture.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

PTEX_NAMESPACE_BEGIN

class DataResidency;
class PtexMetaDataReader;
class ReadSections;
class PtexReader;

// Told when a caller releases a texture it got from a cache.
class TextureOwner {
public:
    virtual void textureReleased(PtexReader* reader) = 0;

protected:
    ~TextureOwner() {}
};

class PtexReader final : public PtexTexture {
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
    const char* path() override { return _path.c_str(); }
    Info getInfo() override;
    Ptex::MeshType meshType() override { return MeshType(_header.meshtype); }
    Ptex::DataType dataType() override { return DataType(_header.datatype); }
    Ptex::BorderMode uBorderMode() override { return BorderMode(_extHeader.ubordermode); }
    Ptex::BorderMode vBorderMode() override { return BorderMode(_extHeader.vbordermode); }
    Ptex::EdgeFilterMode edgeFilterMode() override { return EdgeFilterMode(_extHeader.edgefiltermode); }
    int alphaChannel() override { return _header.alphachan; }
    int numChannels() override { return _header.nchannels; }
    int numFaces() override { return int(_header.nfaces); }
    bool hasEdits() override { return _hasEdits; }
    bool hasMipMaps() override { return _header.nlevels > 1; }
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
    int pixelSize() const { return _pixelSize; }

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

    // Used by DataResidency, with the reader's lock taken through lockForResidency (try_lock).
    bool tryLockForResidency() { return _mutex.try_lock(); }
    void unlockForResidency() { _mutex.unlock(); }
    // True if the block was resident and unreferenced; its texels go to sections.retire.
    bool evictLocked(FaceBlock& block, ReadSections& sections);
    void closeHandleLocked();
    void closeHandleForResidencyLocked();  // the residency already dropped it from its list

    // Used by PtexMetaDataReader: reads and inflates a block under the reader's lock.
    bool readZipBlock(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize);
    void reportReadError(const char* what);
    void accountMemory(int64_t bytes);

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
    struct FaceEdit {
        PtexIO::FaceDataHeader header;
        uint64_t offset = 0;
    };
    struct MetaEdit {
        uint64_t pos = 0;
        uint32_t zipSize = 0;
        uint32_t memSize = 0;
    };

    PtexReader(const char* path, const Setup& setup);
    bool openFile(std::string& error);
    bool readEdits(uint64_t start, uint64_t end, bool strictEnd);
    bool readFaceEdit(uint64_t bodyPos, uint32_t editSize);
    bool validateFace(FaceInfo& face) const;
    void sanitizeAdjacency(FaceInfo& face) const;
    void premultiplyTexels(uint8_t* data, int count) const;
    void collect(const char* what);

    // Reading under _mutex.
    bool ensureHandleLocked();
    bool readAtLocked(uint64_t pos, void* buffer, size_t size);
    bool readZipLocked(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize);
    LevelTable* levelTable(int level);
    LevelTable* loadLevelLocked(int level);
    bool decodeBlockLocked(FaceBlock& block, PtexIO::FaceDataHeader header, uint64_t pos);
    bool decodeImage(PtexIO::Encoding encoding, const uint8_t* zip, uint32_t zipSize, Res res, uint8_t* dst) const;
    void publishLocked(FaceBlock& block, Hold hold);
    bool take(FaceBlock& block, Hold hold);
    void afterLoad();

    PtexFaceData* errorFace() { return &_errorFace; }
    bool readResidentTexel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Hold hold);
    PtexFaceData* acquireLevelFace(int level, int index, int faceid, Hold hold);
    PtexFaceData* acquireReduction(int faceid, Res res, Hold hold);
    PtexFaceData* reductionError(int faceid, Res res, const char* message);
    std::unique_ptr<FaceBlock> computeReduction(int faceid, Res res);
    std::unique_ptr<FaceBlock> computeReducedTile(const TileTable& table, int tile);
    PtexFaceData* publishComputed(std::atomic<FaceBlock*>& slot, std::vector<std::unique_ptr<FaceBlock>>& owned,
                                  std::unique_ptr<FaceBlock> computed, Hold hold);

    // Immutable after open.
    std::string _path;
    Setup _setup;
    PtexInputHandler* _io = nullptr;
    PtexIO::Header _header;
    PtexIO::ExtHeader _extHeader;
    uint8_t _headerBytes[PtexIO::kHeaderSize + PtexIO::kExtHeaderSize] = {};
    size_t _headerBytesSize = 0;
    uint64_t _fileSize = 0;
    int _pixelSize = 0;
    bool _premultiply = false;
    bool _hasEdits = false;
    uint64_t _metaDataPos = 0;
    uint64_t _lmdHeaderPos = 0;
    uint64_t _lmdDataPos = 0;
    std::vector<PtexIO::LevelInfo> _levelInfo;
    std::vector<uint64_t> _levelPos;
    std::vector<FaceInfo> _faces;
    std::vector<uint32_t> _rfaceids;
    std::vector<uint32_t> _faceids;
    std::vector<Res> _storedRes;  // resolution of each face as stored in the levels (before edits)
    std::unique_ptr<uint8_t[]> _constData;
    std::vector<ConstantFaceData> _constFaces;
    std::unordered_map<uint32_t, FaceEdit> _faceEdits;
    std::vector<MetaEdit> _metaEdits;
    std::unique_ptr<uint8_t[]> _zeroTexel;
    ConstantFaceData _errorFace;
    FaceInfo _defaultFaceInfo;
    std::string _collectedErrors;

    // Loaded on demand, published with release stores, read without the lock.
    std::unique_ptr<std::atomic<LevelTable*>[]> _levels;
    std::vector<std::unique_ptr<LevelTable>> _ownedLevels;
    std::unique_ptr<std::atomic<ReductionTable*>[]> _reductions;
    std::vector<std::unique_ptr<ReductionTable>> _ownedReductions;
    std::atomic<PtexMetaDataReader*> _metaData{nullptr};
    std::unique_ptr<PtexMetaDataReader> _ownedMetaData;

    std::atomic<bool> _error{false};
    std::mutex _mutex;  // file reads and every structural change
    PtexInputHandler::Handle _handle = nullptr;
    uint64_t _filePos = UINT64_MAX;
    std::mutex _warnMutex;
    std::set<std::pair<int, uint16_t>> _warned;
    std::atomic<int64_t> _memory{0};  // everything this reader accounted to the residency

    friend class PtexMetaDataReader;
};

PTEX_NAMESPACE_END
