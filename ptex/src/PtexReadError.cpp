// The message texts of read errors.
#include "PtexReadError.h"

PTEX_NAMESPACE_BEGIN

namespace {

// The part of a "PtexReader error: <text> PtexFile: <path>" message that names the error; null
// for the errors with a message of their own.
const char* readerText(ReadErrorCode code)
{
    switch (code) {
    case ReadErrorCode::invalidFileHeader: return "invalid file header";
    case ReadErrorCode::sectionsPastEnd: return "sections run past the end of the file";
    case ReadErrorCode::metaDataPastEnd: return "meta data block runs past the end of the file";
    case ReadErrorCode::largeMetaDataPastEnd: return "large meta data runs past the end of the file";
    case ReadErrorCode::invalidLevelInfoSize: return "invalid level info size";
    case ReadErrorCode::invalidLevelInfo: return "invalid level info";
    case ReadErrorCode::faceCountMismatch: return "face count does not fit the file";
    case ReadErrorCode::invalidFaceResolution: return "invalid face resolution";
    case ReadErrorCode::editDataOutside: return "edit data outside the file";
    case ReadErrorCode::editRecordPastEnd: return "edit record runs past the edit data";
    case ReadErrorCode::invalidFaceEdit: return "invalid face edit";
    case ReadErrorCode::invalidFaceResolutionInEdit: return "invalid face resolution in edit";
    case ReadErrorCode::readFailed: return "read failed (EOF)";
    case ReadErrorCode::unzipFailed: return "unzip failed, file corrupt";
    case ReadErrorCode::outOfMemory: return "out of memory";
    case ReadErrorCode::invalidConstantBlock: return "invalid constant block";
    case ReadErrorCode::invalidTiledBlock: return "invalid tiled block";
    case ReadErrorCode::invalidTileHeader: return "invalid tile header";
    case ReadErrorCode::tileSizesMismatch: return "tile sizes do not add up to the face block";
    case ReadErrorCode::levelDataOverrun: return "face data run past the end of their level";
    case ReadErrorCode::invalidMetaDataSize: return "invalid meta data size";
    case ReadErrorCode::invalidMetaData: return "invalid meta data";
    case ReadErrorCode::invalidLargeMetaDataHeader: return "invalid large meta data header";
    case ReadErrorCode::invalidMetaDataEditSize: return "invalid meta data edit size";
    case ReadErrorCode::invalidMetaDataEdit: return "invalid meta data edit";
    default: return nullptr;
    }
}

}  // namespace

std::string describe(const ReadError& error, const std::string& path)
{
    switch (error.code) {
    case ReadErrorCode::none: return std::string();
    case ReadErrorCode::cannotOpen: return "Can't open ptex file: " + path + "\n" + error.reason;
    case ReadErrorCode::notRegularFile: return "Can't open ptex file: " + path + "\nNot a regular file";
    case ReadErrorCode::notPtexFile: return "Not a ptex file: " + path;
    case ReadErrorCode::unsupportedVersion:
        return "Unsupported ptex file version (" + std::to_string(error.value) + "): " + path;
    case ReadErrorCode::invalidMeshType: return "Invalid mesh type (" + std::to_string(error.value) + "): " + path;
    case ReadErrorCode::cannotReopen: return "Can't reopen PtexFile: " + path + "\n";
    case ReadErrorCode::headerMismatch: return "Header mismatch on reopen of PtexFile: " + path + "\n";
    default: break;
    }
    const char* text = readerText(error.code);
    return std::string("PtexReader error: ") + (text ? text : "unknown error") + " PtexFile: " + path + "\n";
}

PTEX_NAMESPACE_END
