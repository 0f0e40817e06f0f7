#include "CorruptFace.h"

#include "FileBytes.h"
#include "PtexBlock.h"
#include "PtexBlockDecoder.h"
#include "PtexFileIndex.h"
#include "PtexResidency.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace tarsk::test {

namespace {

class BytesSource final : public Ptex::ByteSource {
public:
    explicit BytesSource(const std::vector<uint8_t>& bytes) : _bytes(bytes) {}
    uint64_t size() const override { return _bytes.size(); }
    bool readAt(uint64_t pos, void* dst, size_t size, Ptex::ReadError& error) override
    {
        if (pos > _bytes.size() || size > _bytes.size() - pos) {
            error = Ptex::ReadError(Ptex::ReadErrorCode::readFailed);
            return false;
        }
        memcpy(dst, _bytes.data() + pos, size);
        return true;
    }

private:
    const std::vector<uint8_t>& _bytes;
};

}  // namespace

bool corruptFaceData(const std::string& path, int faceid, std::string& error)
{
    std::vector<uint8_t> bytes = readBytes(path);
    BytesSource source(bytes);
    Ptex::FileIndex index;
    Ptex::ReadError readError;
    if (!Ptex::parseFileIndex(source, false, index, readError)) {
        error = Ptex::describe(readError, path);
        return false;
    }
    if (faceid < 0 || faceid >= index.numFaces()) {
        error = "no such face";
        return false;
    }
    Ptex::DataResidency residency(0, 0);
    Ptex::Block* table = Ptex::readLevelIndex(source, index, 0, residency, readError);
    if (!table) {
        error = Ptex::describe(readError, path);
        return false;
    }
    const Ptex::BlockLocation location = Ptex::locateInLevel(*table, uint32_t(faceid));
    residency.discard(table);
    const Ptex::PtexIO::Encoding encoding = location.header.encoding();
    if (encoding != Ptex::PtexIO::enc_zipped && encoding != Ptex::PtexIO::enc_diffzipped) {
        error = "the face is not stored as a zipped block";
        return false;
    }
    bytes[location.pos + location.header.blocksize() / 2] ^= 0x5a;
    FILE* f = fopen(path.c_str(), "r+b");
    const bool written = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f) fclose(f);
    if (!written) error = "cannot write " + path;
    return written;
}

}  // namespace tarsk::test
