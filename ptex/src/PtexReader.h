// PtexReader: a Ptex file opened for reading, the PtexTexture behind PtexTexture::open and
// PtexCache::get. Open parses and validates the file's index (FileIndex), which stays for the
// texture's life; everything else is a block (PtexBlock.h) found in the texture's BlockSlots,
// or read (PtexBlockDecoder) or computed (PtexReductions) on first use and published there,
// and evicted again under the memory limit of the cache's DataResidency while no handle holds
// it. PtexReader.cpp holds the texture's queries and copies, PtexReaderBlocks.cpp how a
// request finds or makes its block.
#pragma once

#include "PtexBlock.h"
#include "PtexBlockSlots.h"
#include "PtexFileAccess.h"
#include "PtexFileIndex.h"
#include "PtexMetaDataReader.h"
#include "PtexOpenFiles.h"
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
                         public TileLoader,
                         public OpenFileOwner,
                         private FileAccess::Observer,
                         private MetaDataSource {
public:
    struct Setup {
        bool premultiply = false;
        PtexInputHandler* inputHandler = nullptr;  // null: plain files
        PtexErrorHandler* errorHandler = nullptr;  // null: standard error
        DataResidency* residency = nullptr;        // null: a residency of its own, without limits
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
    // Stored modes outside the enumerations stay integers in the index: the texture answers the
    // modes the filters use for them (clamp, none), since such a value cannot be held by the
    // enumeration types.
    Ptex::BorderMode uBorderMode() override { return borderModeOf(_index.extHeader.ubordermode); }
    Ptex::BorderMode vBorderMode() override { return borderModeOf(_index.extHeader.vbordermode); }
    Ptex::EdgeFilterMode edgeFilterMode() override { return edgeFilterModeOf(_index.extHeader.edgefiltermode); }
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

    // The read sections a filter opens around each evaluation on this texture, and what the
    // filter calls once it closed one.
    std::shared_ptr<ReadSections> readSections() const;
    void sectionClosed() noexcept { _residency.sectionClosed(); }

    // getData and getPixel for a caller inside a read section: nothing returned needs a release.
    PtexFaceData* getData(int faceid, Ptex::Res res, Hold hold);
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res, Hold hold);
    // getPixel's common case inside a read section, inline for the point filters: all
    // `nchannels` channels of a texel at the stored resolution of a face whose packed block is
    // published. False, with nothing written, in every other case; getPixel answers those.
    bool residentPixelInSection(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res)
    {
        if (uint32_t(faceid) >= _index.header.nfaces || firstchan < 0 || nchannels <= 0 ||
            nchannels > int(_index.header.nchannels) - firstchan)
            return false;
        const FaceInfo& face = _index.faces[faceid];
        if (!(res == face.res) || face.isConstant() || uint32_t(u) >= uint32_t(res.u()) ||
            uint32_t(v) >= uint32_t(res.v()) || inErrorState())
            return false;
        Block* block = _slots->findFaceInSection(0, uint32_t(faceid));
        if (!block) return false;
        // A packed block holds its texels right after itself at the face's resolution. The
        // address comes from the block pointer and the face's resolution alone, not from the
        // block's fields, so that the texel loads while the block's first line is on its way.
        const DataType dt = _index.dataType();
        const uint8_t* texel = block->payload() + (size_t(v) * size_t(res.u()) + size_t(u)) * size_t(_index.pixelSize) +
                               size_t(firstchan) * size_t(DataSize(dt));
        if (block->kind != Block::kPacked) return false;
        texelToFloat(result, texel, dt, nchannels);
        return true;
    }
    // getFaceInfo of a valid face id, inline.
    const Ptex::FaceInfo& faceInfoAt(int faceid) const { return _index.faces[faceid]; }

    // TileLoader
    PtexFaceData* acquireTile(Block& directory, int tile, Hold hold) override;
    // OpenFileOwner
    bool tryCloseFile() override;

    // Reports an error found while reading; the texture enters the error state.
    void reportReadError(const ReadError& error);

private:
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

    // Finding or making blocks (PtexReaderBlocks.cpp).
    PtexFaceData* errorFace() { return &_errorFace; }
    ReductionSource reductionSource();
    PtexFaceData* constantView(int faceid, Hold hold);
    PtexFaceData* levelFace(int level, int faceid, Hold hold);
    PtexFaceData* loadLevelFace(int level, int faceid, Hold hold);
    PtexFaceData* reduction(int faceid, Res res, Hold hold);
    PtexFaceData* reductionError(int faceid, Res res, const char* message);
    PtexFaceData* loadTile(Block& directory, int tile, Hold hold);
    bool storedLevelServes(int level, int faceid);
    // Under the file lock; handles the caller releases.
    Block* levelIndexLocked(int level);
    bool rankLocked(int faceid, uint32_t& rank);
    Block* reductionOrder();
    PtexFaceData* published(Block* made, Hold hold);
    bool readResidentTexel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Hold hold);
    // ConvertToFloat of `nchannels` channels starting at `channels`, with the arithmetic of the
    // common 8-bit case inline instead of the call.
    static void texelToFloat(float* result, const uint8_t* channels, DataType dt, int nchannels)
    {
        if (dt == dt_uint8) {
            for (int c = 0; c < nchannels; ++c) result[c] = float(channels[c]) * (1.f / 255.f);
        } else {
            ConvertToFloat(result, channels, dt, nchannels);
        }
    }

    Setup _setup;
    std::unique_ptr<DataResidency> _ownResidency;  // an uncached texture's
    DataResidency& _residency;

    // Immutable after open.
    FileIndex _index;
    std::unique_ptr<uint8_t[]> _zeroTexel;
    ConstantFaceData _errorFace;
    FaceInfo _defaultFaceInfo;
    bool _singleKey = false;  // every face has one reduction key: a face's rank is its id

    std::unique_ptr<BlockSlots> _slots;
    std::atomic<PtexMetaDataReader*> _metaData{nullptr};
    std::unique_ptr<PtexMetaDataReader> _ownedMetaData;
    std::mutex _metaDataMutex;

    std::atomic<bool> _error{false};
    std::mutex _fileMutex;     // every read of the file
    FileAccess _file;          // guarded by _fileMutex
    OpenFileEntry _openEntry;  // while the handle is open: its place in the open-file lists
    std::mutex _warnMutex;
    std::set<std::pair<int, uint16_t>> _warned;
    std::atomic<int64_t> _memory{0};  // what this texture counted outside its blocks
};

PTEX_NAMESPACE_END
