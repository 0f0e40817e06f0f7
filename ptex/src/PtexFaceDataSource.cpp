// FaceDataSource: section reads on our reader, handle reads on any other texture.
#include "PtexFaceDataSource.h"

#include "PtexReader.h"

PTEX_NAMESPACE_BEGIN

FaceDataSource::FaceDataSource(PtexTexture* texture) noexcept : _texture(texture)
{
    PtexReader* reader = dynamic_cast<PtexReader*>(texture);
    if (!reader) return;
    // An uncached reader never evicts: its data stay until it goes away, no section needed.
    _sections = reader->readSections();
    if (_sections) {
        _slot = _sections->acquireSlot();
        if (!_slot) {
            _sections.reset();
            return;  // out of memory: handles still work
        }
    }
    _reader = reader;
}

FaceDataSource::~FaceDataSource()
{
    if (_slot) _sections->releaseSlot(_slot);
}

PtexFaceData* FaceDataSource::data(int faceid, Ptex::Res res)
{
    if (!_reader) return _texture->getData(faceid, res);
    return _reader->getData(faceid, res, Hold::section);
}

PtexFaceData* FaceDataSource::tile(PtexFaceData* face, int index)
{
    if (!_reader) return face->getTile(index);
    // Only our blocks report tiles; constant data never do.
    if (!face->isTiled()) return nullptr;
    return static_cast<Block*>(face)->getTile(index, Hold::section);
}

bool FaceDataSource::failed() const { return _reader && _reader->inErrorState(); }

void FaceDataSource::getPixelLoading(int faceid, int u, int v, float* result, int firstchan, int nchannels,
                                     Ptex::Res res)
{
    if (!_reader) {
        _texture->getPixel(faceid, u, v, result, firstchan, nchannels, res);
        return;
    }
    _reader->getPixel(faceid, u, v, result, firstchan, nchannels, res, Hold::section);
}

PTEX_NAMESPACE_END
