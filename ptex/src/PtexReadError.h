// ReadError: why opening or reading a Ptex file failed, as a code with its context (a stored
// number, the handler's reason) rather than as text. The one place that turns an error into the
// library's message texts is describe(); nothing else formats or parses them.
#pragma once

#include "PtexVersion.h"

#include <cstdint>
#include <string>

PTEX_NAMESPACE_BEGIN

enum class ReadErrorCode : uint8_t {
    none,
    // Opening
    cannotOpen,          // the input handler could not open the path (reason: its lastError)
    notRegularFile,      // a FIFO, device or socket, refused before it is opened
    notPtexFile,         // no magic (also: a directory, an empty file)
    unsupportedVersion,  // value: the stored version
    invalidMeshType,     // value: the stored mesh type
    invalidFileHeader,
    sectionsPastEnd,
    metaDataPastEnd,
    largeMetaDataPastEnd,
    invalidLevelInfoSize,
    invalidLevelInfo,
    faceCountMismatch,
    invalidFaceResolution,
    editDataOutside,
    editRecordPastEnd,
    invalidFaceEdit,
    invalidFaceResolutionInEdit,
    // Reading, at open or later
    readFailed,
    unzipFailed,
    outOfMemory,
    invalidConstantBlock,
    invalidTiledBlock,
    invalidTileHeader,
    tileSizesMismatch,
    levelDataOverrun,
    invalidMetaDataSize,
    invalidMetaData,
    invalidLargeMetaDataHeader,
    invalidMetaDataEditSize,
    invalidMetaDataEdit,
    // A handle closed for the descriptor limits and opened again
    cannotReopen,
    headerMismatch,  // not the file that was opened: other size, modification time or header bytes
};

struct ReadError {
    ReadErrorCode code = ReadErrorCode::none;
    int64_t value = 0;   // the stored number an error names (version, mesh type)
    std::string reason;  // the input handler's reason for cannotOpen

    ReadError() = default;
    explicit ReadError(ReadErrorCode c, int64_t v = 0) : code(c), value(v) {}
    explicit operator bool() const { return code != ReadErrorCode::none; }
};

// The library's message for an error of the file at `path`.
std::string describe(const ReadError& error, const std::string& path);

PTEX_NAMESPACE_END
