// FaceDataSource: how a filter reaches a texture's texels. On our own reader the filter reads
// inside a read section for each evaluation, where resident data come without a handle, so an
// evaluation costs no atomic read-modify-write per block it touches and threads sharing hot
// blocks do not fight over their counters. Any other PtexTexture is read through handles.
#pragma once

#include "PtexBlock.h"
#include "PtexReadSections.h"
#include "PtexReader.h"
#include "Ptexture.h"

#include <memory>

PTEX_NAMESPACE_BEGIN

class FaceDataSource {
public:
    explicit FaceDataSource(PtexTexture* texture) noexcept;
    ~FaceDataSource();
    FaceDataSource(const FaceDataSource&) = delete;
    FaceDataSource& operator=(const FaceDataSource&) = delete;

    PtexTexture* texture() const { return _texture; }

    // Open for the whole of one evaluation, around every data, tile and getPixel call.
    class Section {
    public:
        explicit Section(FaceDataSource& source) noexcept : _source(source)
        {
            if (_source._slot) _source._sections->open(*_source._slot);
        }
        ~Section()
        {
            if (!_source._slot) return;
            _source._sections->close(*_source._slot);
            _source.sectionClosed();
        }
        Section(const Section&) = delete;
        Section& operator=(const Section&) = delete;

    private:
        FaceDataSource& _source;
    };

    // As PtexTexture::getData / PtexFaceData::getTile / PtexTexture::getPixel; whatever data
    // and tile return is given back with done.
    PtexFaceData* data(int faceid, Ptex::Res res);
    PtexFaceData* tile(PtexFaceData* face, int index);
    void done(PtexFaceData* data)
    {
        if (data && !_reader) data->release();
    }
    void getPixel(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res)
    {
        if (_reader && _reader->residentPixelInSection(faceid, u, v, result, firstchan, nchannels, res)) return;
        getPixelLoading(faceid, u, v, result, firstchan, nchannels, res);
    }
    // As PtexTexture::getFaceInfo, for a face id known to be valid.
    const Ptex::FaceInfo& faceInfo(int faceid)
    {
        return _reader ? _reader->faceInfoAt(faceid) : _texture->getFaceInfo(faceid);
    }
    // True once a read of our reader failed: an evaluation that read several blocks answers
    // zeros then, as every later one does, rather than a mix of the data it read before the
    // failure and the zeros after it.
    bool failed() const;

private:
    void getPixelLoading(int faceid, int u, int v, float* result, int firstchan, int nchannels, Ptex::Res res);
    void sectionClosed() noexcept { _reader->sectionClosed(); }

    PtexTexture* _texture;
    PtexReader* _reader = nullptr;  // null: read through handles
    std::shared_ptr<ReadSections> _sections;
    ReadSections::Slot* _slot = nullptr;
};

PTEX_NAMESPACE_END
