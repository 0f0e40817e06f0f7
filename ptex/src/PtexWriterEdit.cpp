// PtexWriter::edit and PtexWriter::applyEdits: incremental edits append records to the file;
// a full rewrite reads the existing file through a private cache and copies every face that
// is not written anew, with its edits applied.

#include "PtexWriterIncremental.h"
#include "PtexWriterMain.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace {

// Collects read errors of the texture being copied, so that a failed read fails the rewrite
// instead of copying zeros over the file's data.
class CopyErrors : public PtexErrorHandler {
public:
    void reportError(const char* error) override
    {
        if (_first.empty() && error) _first = error;
    }
    const std::string& first() const { return _first; }

private:
    std::string _first;
};

// The existing file of a full rewrite, read without premultiplication.
class ExistingFile : public PtexMainWriter::FaceSource {
public:
    ~ExistingFile() override
    {
        if (_texture) _texture->release();
        if (_cache) _cache->release();
    }

    bool open(const char* path, String& error)
    {
        // Decoded data are only needed face by face; a bound keeps large files cheap to copy.
        _cache = PtexCache::create(1, size_t(256) << 20, false, nullptr, &_errors);
        if (!_cache) {
            error = std::string("Can't open ptex file: ") + path;
            return false;
        }
        _texture = _cache->get(path, error);
        return _texture != nullptr;
    }

    PtexTexture* texture() const { return _texture; }

    bool copyFace(int faceid, PtexMainWriter& writer) override
    {
        const FaceInfo info = _texture->getFaceInfo(faceid);
        const int pixelSize = DataSize(_texture->dataType()) * _texture->numChannels();
        // One buffer for every face: its size follows the largest face copied so far.
        if (info.isConstant()) {
            _texels.resize(static_cast<size_t>(pixelSize));
            _texture->getData(faceid, _texels.data(), 0, Res(0, 0));
            if (!checkRead()) return fail(writer);
            return writer.addConstantFace(faceid, info, _texels.data());
        }
        _texels.resize(size_t(pixelSize) * size_t(info.res.size()));
        _texture->getData(faceid, _texels.data(), 0);
        if (!checkRead()) return fail(writer);
        return writer.addFace(faceid, info, _texels.data(), 0);
    }

private:
    bool checkRead() const { return _errors.first().empty(); }
    bool fail(PtexMainWriter& writer) const
    {
        std::string message = _errors.first();
        while (!message.empty() && message.back() == '\n') message.pop_back();
        writer.recordError(message);
        return false;
    }

    CopyErrors _errors;
    std::vector<uint8_t> _texels;
    PtexCache* _cache = nullptr;
    PtexTexture* _texture = nullptr;
};

PtexWriter* openRewrite(const char* path, MeshType mt, DataType dt, int nchannels, int alphachan, int nfaces,
                        String& error, bool genmipmaps)
{
    std::unique_ptr<ExistingFile> existing(new ExistingFile);
    if (!existing->open(path, error)) return nullptr;
    PtexTexture* tex = existing->texture();
    if (tex->meshType() != mt || tex->dataType() != dt || tex->numChannels() != nchannels ||
        tex->alphaChannel() != alphachan || tex->numFaces() != nfaces) {
        error = "PtexWriter::edit error: header doesn't match existing file, conversions not currently supported";
        return nullptr;
    }
    std::unique_ptr<PtexMainWriter> writer(new PtexMainWriter(path, mt, dt, nchannels, alphachan, nfaces, genmipmaps));
    // The file's meta data come first, in the reader's key order; later writes replace values
    // in place.
    if (PtexMetaData* meta = tex->getMetaData()) {
        writer->writeMeta(meta);
        meta->release();
    }
    const BorderMode u = tex->uBorderMode(), v = tex->vBorderMode();
    const EdgeFilterMode efm = tex->edgeFilterMode();
    const bool hasEdits = tex->hasEdits();
    writer->setExistingFile(std::move(existing), u, v, efm, hasEdits);
    return writer.release();
}

}  // namespace

PtexWriter* PtexWriter::edit(const char* path, bool incremental, MeshType mt, DataType dt, int nchannels, int alphachan,
                             int nfaces, String& error, bool genmipmaps)
{
    if (!PtexWriterBase::checkArgs(mt, dt, nchannels, alphachan, nfaces, error)) return nullptr;
    if (!path || !*path) {
        error = "PtexWriter error: no file path given";
        return nullptr;
    }
    try {
        std::FILE* file = std::fopen(path, "r+b");
        if (!file) {
            // A missing file is simply created; any other failure leaves the file alone.
            if (errno == ENOENT) return PtexWriter::open(path, mt, dt, nchannels, alphachan, nfaces, error, genmipmaps);
            error = std::string("Can't open ptex file for update: ") + path + "\n" + std::strerror(errno);
            return nullptr;
        }
        if (incremental) return PtexIncrWriter::create(path, file, mt, dt, nchannels, alphachan, nfaces, error);
        std::fclose(file);
        return openRewrite(path, mt, dt, nchannels, alphachan, nfaces, error, genmipmaps);
    } catch (const std::exception& e) {
        error = std::string("PtexWriter error: ") + e.what();
        return nullptr;
    }
}

bool PtexWriter::applyEdits(const char* path, String& error)
{
    PtexTexture* tex = PtexTexture::open(path, error, false);
    if (!tex) return false;
    const bool hasEdits = tex->hasEdits();
    const MeshType mt = tex->meshType();
    const DataType dt = tex->dataType();
    const int nchannels = tex->numChannels(), alphachan = tex->alphaChannel(), nfaces = tex->numFaces();
    const bool genmipmaps = tex->hasMipMaps();
    tex->release();
    if (!hasEdits) return true;
    PtexWriter* writer = PtexWriter::edit(path, false, mt, dt, nchannels, alphachan, nfaces, error, genmipmaps);
    if (!writer) return false;
    const bool ok = writer->close(error);
    writer->release();
    return ok;
}

PTEX_NAMESPACE_END
