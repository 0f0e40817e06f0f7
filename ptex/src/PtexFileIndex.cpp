// Parsing and validation of a Ptex file's index: every size is checked against the file size
// before anything is allocated for it or derived from it.
#include "PtexFileIndex.h"

#include "PtexBytes.h"
#include "PtexUtils.h"
#include "PtexZip.h"

#include <algorithm>
#include <cstring>
#include <new>

PTEX_NAMESPACE_BEGIN

using namespace PtexIO;

namespace {

bool validFaceRes(const FileIndex& index, Res res)
{
    const int ulog2 = res.ulog2, vlog2 = res.vlog2;
    if (ulog2 < 0 || vlog2 < 0 || ulog2 > kMaxLog2 || vlog2 > kMaxLog2) return false;
    if ((uint64_t(index.pixelSize) << (ulog2 + vlog2)) > kMaxImageBytes) return false;
    if (index.triangles() && ulog2 != vlog2) return false;
    return true;
}

// Filters follow the adjacency links; a link outside the mesh becomes a border edge.
void sanitizeAdjacency(const FileIndex& index, FaceInfo& face)
{
    const int64_t nfaces = index.header.nfaces;
    int edges[4];
    for (int e = 0; e < 4; ++e) edges[e] = face.adjedge(e);
    for (int e = 0; e < 4; ++e) {
        if (face.adjfaces[e] < -1 || face.adjfaces[e] >= nfaces) {
            face.adjfaces[e] = -1;
            edges[e] = 0;
        }
    }
    if (index.triangles()) {
        face.adjfaces[3] = -1;
        edges[3] = 0;
        for (int e = 0; e < 3; ++e) {
            if (edges[e] == 3) {
                face.adjfaces[e] = -1;
                edges[e] = 0;
            }
        }
    }
    face.setadjedges(edges[0], edges[1], edges[2], edges[3]);
}

void premultiplyTexels(const FileIndex& index, uint8_t* data, int count)
{
    PtexUtils::multalpha(data, count, index.dataType(), index.header.nchannels, index.header.alphachan);
}

bool fail(ReadError& error, ReadErrorCode code)
{
    error = ReadError(code);
    return false;
}

bool readFaceEdit(ByteSource& source, FileIndex& index, uint64_t bodyPos, uint32_t editSize, ReadError& error)
{
    const size_t fixedSize = kFaceEditFixedSize + size_t(index.pixelSize);
    if (editSize < fixedSize) return fail(error, ReadErrorCode::invalidFaceEdit);
    std::vector<uint8_t> body(fixedSize);
    if (!source.readAt(bodyPos, body.data(), fixedSize, error)) return false;
    const uint32_t faceid = getU32(body.data());
    FaceInfo face = decodeFaceInfo(body.data() + 4);
    FaceDataHeader header;
    header.data = getU32(body.data() + 24);
    if (uint64_t(fixedSize) + header.blocksize() > editSize) return fail(error, ReadErrorCode::invalidFaceEdit);
    if (faceid >= index.header.nfaces) return true;  // edits of faces that do not exist are ignored
    if (!validFaceRes(index, face.res)) return fail(error, ReadErrorCode::invalidFaceResolutionInEdit);
    sanitizeAdjacency(index, face);
    face.flags |= FaceInfo::flag_hasedits;
    auto found = index.faceEdits.find(faceid);
    if (found == index.faceEdits.end()) {
        const int8_t storedKey = int8_t(index.storedKey(int(faceid)));
        found = index.faceEdits.emplace(faceid, FileIndex::FaceEdit()).first;
        found->second.storedKey = storedKey;
    }
    index.faces[faceid] = face;
    uint8_t* value = index.constData.get() + size_t(index.pixelSize) * faceid;
    memcpy(value, body.data() + kFaceEditFixedSize, size_t(index.pixelSize));
    if (index.premultiply) premultiplyTexels(index, value, 1);
    FileIndex::FaceEdit& edit = found->second;
    edit.hasData = !face.isConstant();
    edit.header = header;
    edit.offset = bodyPos + fixedSize;
    return true;
}

// Edit records from start to end. With strictEnd (the recorded edit section) a record that runs
// past the end is an error; without (old files: up to the end of the file) it ends the scan.
bool readEdits(ByteSource& source, FileIndex& index, uint64_t start, uint64_t end, bool strictEnd, ReadError& error)
{
    uint64_t pos = start;
    while (pos < end) {
        uint8_t framing[kEditFramingSize];
        ReadError ignored;
        if (end - pos < kEditFramingSize || !source.readAt(pos, framing, kEditFramingSize, ignored)) {
            if (!strictEnd) return true;
            return fail(error, ReadErrorCode::editRecordPastEnd);
        }
        const uint8_t editType = framing[0];
        const uint32_t editSize = getU32(framing + 1);
        if (editSize == 0) break;
        const uint64_t bodyPos = pos + kEditFramingSize;
        if (end - bodyPos < editSize) {
            if (!strictEnd) return true;
            return fail(error, ReadErrorCode::editRecordPastEnd);
        }
        index.hasEdits = true;
        if (editType == et_editfacedata) {
            if (!readFaceEdit(source, index, bodyPos, editSize, error)) return false;
        } else if (editType == et_editmetadata) {
            uint8_t sizes[8];
            if (editSize < 8 || !source.readAt(bodyPos, sizes, 8, ignored))
                return fail(error, ReadErrorCode::invalidMetaDataEdit);
            FileIndex::MetaEdit edit;
            edit.pos = bodyPos + 8;
            edit.zipSize = getU32(sizes);
            edit.memSize = getU32(sizes + 4);
            if (uint64_t(edit.zipSize) + 8 > editSize) return fail(error, ReadErrorCode::invalidMetaDataEdit);
            index.metaEdits.push_back(edit);
        }
        pos = bodyPos + editSize;
    }
    return true;
}

// The face info records inflate straight into the table (the record is FaceInfo's layout), and
// are then decoded in place, so that no second copy of the table is ever made.
bool readFaceInfo(ByteSource& source, FileIndex& index, uint64_t pos, ReadError& error)
{
    const size_t nfaces = index.header.nfaces;
    index.faces.resize(nfaces);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(index.faces.data());
    if (!source.readZip(pos, index.header.faceinfosize, bytes, kFaceInfoRecordSize * nfaces, error)) return false;
    for (size_t f = 0; f < nfaces; ++f) {
        uint8_t record[kFaceInfoRecordSize];
        memcpy(record, bytes + kFaceInfoRecordSize * f, kFaceInfoRecordSize);
        FaceInfo& face = index.faces[f];
        face = decodeFaceInfo(record);
        face.flags &= uint8_t(~FaceInfo::flag_hasedits);  // never stored; set only by edits
        if (!validFaceRes(index, face.res)) return fail(error, ReadErrorCode::invalidFaceResolution);
        sanitizeAdjacency(index, face);
    }
    return true;
}

}  // namespace

bool ByteSource::readZip(uint64_t pos, uint32_t zipSize, uint8_t* dst, size_t memSize, ReadError& error)
{
    if (!plausibleInflate(memSize, zipSize) || !inFile(pos, zipSize, size()))
        return fail(error, ReadErrorCode::unzipFailed);
    PtexZip::Inflater inflater;
    uint8_t* zip = inflater.zipBuffer(zipSize);
    if (!zip) return fail(error, ReadErrorCode::outOfMemory);
    if (!readAt(pos, zip, zipSize, error)) return false;
    if (!inflater.inflateExact(zip, zipSize, dst, memSize)) return fail(error, ReadErrorCode::unzipFailed);
    return true;
}

size_t FileIndex::memoryBytes() const
{
    return sizeof(*this) + faces.size() * (sizeof(FaceInfo) + size_t(pixelSize)) +
           levelInfo.size() * (sizeof(LevelInfo) + sizeof(uint64_t) + sizeof(LevelMembers)) +
           faceEdits.size() * (sizeof(FaceEdit) + 32) + metaEdits.size() * sizeof(MetaEdit);
}

// Counts the faces per key and, for every level, which keys it holds wholly and which one only
// in part (files from a well-behaved writer hold whole keys only).
void FileIndex::computeLevelMembers()
{
    for (uint32_t& count : keyCount) count = 0;
    for (int f = 0; f < numFaces(); ++f) ++keyCount[storedKey(f)];
    levelMembers.resize(levelInfo.size());
    for (size_t level = 0; level < levelInfo.size(); ++level) {
        const uint64_t n = levelInfo[level].nfaces;
        LevelMembers& members = levelMembers[level];
        members = LevelMembers();
        uint64_t start = 0;
        for (int k = kNumKeys - 1; k >= 0 && start < n; --k) {
            if (start + keyCount[k] <= n) {
                members.fullKey = k;
            } else {
                members.partialKey = k;
                break;
            }
            start += keyCount[k];
        }
    }
}

int FileIndex::storedKey(int faceid) const
{
    if (!faceEdits.empty()) {
        auto found = faceEdits.find(uint32_t(faceid));
        if (found != faceEdits.end()) return found->second.storedKey;
    }
    const FaceInfo& face = faces[size_t(faceid)];
    return face.isConstant() ? 1 : std::min(int(face.res.ulog2), int(face.res.vlog2));
}

int FileIndex::levelHolds(int level, int faceid) const
{
    const LevelMembers& members = levelMembers[size_t(level)];
    const int key = storedKey(faceid);
    if (key >= members.fullKey) return 1;
    return key == members.partialKey ? -1 : 0;
}

void FileIndex::reductionOrder(uint32_t* rfaceids) const
{
    // A counting sort by descending key, stable within a key: the order writers store faces in.
    uint32_t next[kNumKeys];
    uint32_t start = 0;
    for (int k = kNumKeys - 1; k >= 0; --k) {
        next[k] = start;
        start += keyCount[k];
    }
    for (int f = 0; f < numFaces(); ++f) rfaceids[f] = next[storedKey(f)]++;
}

bool parseFileIndex(ByteSource& source, bool premultiply, FileIndex& index, ReadError& error)
{
    index.fileSize = source.size();
    uint8_t headerBytes[kHeaderSize] = {};
    ReadError ignored;
    if (!source.readAt(0, headerBytes, 4, ignored) || getU32(headerBytes) != kMagic)
        return fail(error, ReadErrorCode::notPtexFile);
    if (!source.readAt(4, headerBytes + 4, kHeaderSize - 4, error)) return false;
    PtexIO::Header& header = index.header;
    header.decode(headerBytes);
    if (header.version != 1) {
        error = ReadError(ReadErrorCode::unsupportedVersion, header.version);
        return false;
    }
    if (header.meshtype > 1) {
        error = ReadError(ReadErrorCode::invalidMeshType, header.meshtype);
        return false;
    }
    if (header.datatype > 3 || header.nchannels < 1 || header.nlevels < 1 || header.extheadersize > index.fileSize)
        return fail(error, ReadErrorCode::invalidFileHeader);
    index.pixelSize = header.pixelSize();
    index.premultiply = premultiply && header.hasAlpha();

    uint8_t extBytes[kExtHeaderSize] = {};
    const size_t extSize = std::min<size_t>(kExtHeaderSize, header.extheadersize);
    if (!source.readAt(kHeaderSize, extBytes, extSize, error)) return false;
    index.extHeader.decode(extBytes);
    memcpy(index.headerBytes, headerBytes, kHeaderSize);
    memcpy(index.headerBytes + kHeaderSize, extBytes, extSize);
    index.headerBytesSize = kHeaderSize + extSize;

    // Section positions; each section is checked against the file size before the next
    // position is derived from it, so no sum can wrap.
    const uint64_t fileSize = index.fileSize;
    const uint64_t faceInfoPos = kHeaderSize + uint64_t(header.extheadersize);
    bool sectionsOk = inFile(faceInfoPos, header.faceinfosize, fileSize);
    const uint64_t constDataPos = faceInfoPos + header.faceinfosize;
    sectionsOk = sectionsOk && inFile(constDataPos, header.constdatasize, fileSize);
    const uint64_t levelInfoPos = constDataPos + header.constdatasize;
    sectionsOk = sectionsOk && inFile(levelInfoPos, header.levelinfosize, fileSize);
    const uint64_t levelDataPos = levelInfoPos + header.levelinfosize;
    sectionsOk = sectionsOk && inFile(levelDataPos, header.leveldatasize, fileSize);
    if (!sectionsOk) return fail(error, ReadErrorCode::sectionsPastEnd);
    index.metaDataPos = levelDataPos + header.leveldatasize;
    if (!inFile(index.metaDataPos, header.metadatazipsize, fileSize))
        return fail(error, ReadErrorCode::metaDataPastEnd);
    const uint64_t metaEnd = index.metaDataPos + header.metadatazipsize;
    index.lmdHeaderPos = metaEnd + kBarrierSize;
    uint64_t lastSectionEnd = metaEnd;
    const PtexIO::ExtHeader& ext = index.extHeader;
    if (ext.lmdheaderzipsize > 0 || ext.lmddatasize > 0) {
        if (!inFile(index.lmdHeaderPos, ext.lmdheaderzipsize, fileSize) ||
            !inFile(index.lmdHeaderPos + ext.lmdheaderzipsize, ext.lmddatasize, fileSize))
            return fail(error, ReadErrorCode::largeMetaDataPastEnd);
        index.lmdDataPos = index.lmdHeaderPos + ext.lmdheaderzipsize;
        lastSectionEnd = index.lmdDataPos + ext.lmddatasize;
    }

    // Level info first: it confirms the face count before anything is allocated for it.
    if (uint64_t(header.levelinfosize) < kLevelInfoRecordSize * header.nlevels)
        return fail(error, ReadErrorCode::invalidLevelInfoSize);
    {
        std::vector<uint8_t> levelBytes(kLevelInfoRecordSize * header.nlevels);
        if (!source.readAt(levelInfoPos, levelBytes.data(), levelBytes.size(), error)) return false;
        index.levelInfo.resize(header.nlevels);
        index.levelPos.resize(header.nlevels);
        uint64_t total = 0;
        bool ok = true;
        for (int i = 0; i < header.nlevels; ++i) {
            LevelInfo& li = index.levelInfo[i];
            li.decode(&levelBytes[kLevelInfoRecordSize * i]);
            ok = ok && li.leveldatasize <= header.leveldatasize && li.levelheadersize <= li.leveldatasize;
            ok = ok && (i == 0 ? li.nfaces == header.nfaces : li.nfaces <= index.levelInfo[i - 1].nfaces);
            if (!ok) break;
            index.levelPos[i] = levelDataPos + total;
            total += li.leveldatasize;  // each term <= file size: no wrap for 65535 levels
        }
        if (!ok || total != header.leveldatasize) return fail(error, ReadErrorCode::invalidLevelInfo);
    }

    const uint64_t nfaces = header.nfaces;
    if (!plausibleInflate(kFaceInfoRecordSize * nfaces, header.faceinfosize) ||
        !plausibleInflate(uint64_t(index.pixelSize) * nfaces, header.constdatasize))
        return fail(error, ReadErrorCode::faceCountMismatch);
    if (!readFaceInfo(source, index, faceInfoPos, error)) return false;

    index.constData = allocateBytes(size_t(index.pixelSize) * nfaces);
    if (!index.constData) return fail(error, ReadErrorCode::outOfMemory);
    if (!source.readZip(constDataPos, header.constdatasize, index.constData.get(), size_t(index.pixelSize) * nfaces,
                        error))
        return false;
    if (index.premultiply) premultiplyTexels(index, index.constData.get(), int(nfaces));

    // Edits: with a recorded position they lie exactly there; very old files without one keep
    // them right after the meta data block, up to the end of the file.
    if (ext.editdatapos != 0) {
        if (ext.editdatasize > 0) {
            if (!inFile(ext.editdatapos, ext.editdatasize, fileSize) || ext.editdatapos < lastSectionEnd)
                return fail(error, ReadErrorCode::editDataOutside);
            if (!readEdits(source, index, ext.editdatapos, ext.editdatapos + ext.editdatasize, true, error))
                return false;
        }
    } else if (metaEnd < fileSize) {
        if (!readEdits(source, index, metaEnd, fileSize, false, error)) return false;
    }
    index.computeLevelMembers();
    return true;
}

PTEX_NAMESPACE_END
