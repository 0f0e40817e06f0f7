// Positioned reads, the first open and transparent reopening.
#include "PtexFileAccess.h"

#include "PtexInputHandlers.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

PTEX_NAMESPACE_BEGIN

namespace {

// Learns the size of an input whose handler cannot tell it, by probing single bytes.
uint64_t probeSize(PtexInputHandler* io, PtexInputHandler::Handle handle)
{
    uint8_t byte;
    auto readable = [&](uint64_t pos) {
        io->seek(handle, int64_t(pos));
        return io->read(&byte, 1, handle) == 1;
    };
    if (!readable(0)) return 0;
    uint64_t lo = 0, hi = 1;  // byte lo is readable, byte hi is not (once found)
    while (readable(hi)) {
        lo = hi;
        if (hi >= (uint64_t(1) << 62)) return hi;
        hi *= 2;
    }
    while (hi - lo > 1) {
        uint64_t mid = lo + (hi - lo) / 2;
        if (readable(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo + 1;
}

// True for a path that names something other than a regular file or a directory (directories
// fail as files that are not Ptex files).
bool namesSpecialFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

FileAccess::FileAccess(const std::string& path, PtexInputHandler* io, bool defaultHandler)
    : _path(path), _io(io), _defaultHandler(defaultHandler), _sized(dynamic_cast<SizedInputHandler*>(io))
{}

FileAccess::~FileAccess() { close(); }

bool FileAccess::open(ReadError& error)
{
    // A FIFO would block the open, a device would be read without end: refused by name first.
    if (_defaultHandler && namesSpecialFile(_path)) {
        error = ReadError(ReadErrorCode::notRegularFile);
        return false;
    }
    _handle = _io->open(_path.c_str());
    if (!_handle) {
        // Read the reason first: building the message may touch errno.
        const int code = errno;
        const char* reason = _io->lastError();
        if (code == EISDIR && _defaultHandler) {
            error = ReadError(ReadErrorCode::notPtexFile);
        } else {
            error = ReadError(ReadErrorCode::cannotOpen);
            error.reason = reason ? reason : "";
        }
        return false;
    }
    if (_observer) _observer->handleOpened();
    if (_sized && _sized->identify(_handle, _identity)) {
        _size = _identity.size;
    } else {
        _sized = nullptr;
        _size = probeSize(_io, _handle);
    }
    _position = UINT64_MAX;
    return true;
}

void FileAccess::rememberIdentity(const FileIndex& index)
{
    memcpy(_headerBytes, index.headerBytes, index.headerBytesSize);
    _headerBytesSize = index.headerBytesSize;
}

void FileAccess::close(bool notifyObserver)
{
    if (!_handle) return;
    _io->close(_handle);
    _handle = nullptr;
    if (_observer && notifyObserver) _observer->handleClosed();
}

bool FileAccess::ensureOpen(ReadError& error)
{
    if (_handle) return true;
    _handle = _io->open(_path.c_str());
    if (!_handle) {
        error = ReadError(ReadErrorCode::cannotReopen);
        return false;
    }
    if (_observer) _observer->handleOpened();
    // The file must still be the one that was opened: a file rewritten or replaced meanwhile
    // would mix its blocks with the ones read before.
    InputIdentity now;
    uint8_t bytes[sizeof(_headerBytes)];
    _io->seek(_handle, 0);
    const bool same = (!_sized || (_sized->identify(_handle, now) && now == _identity)) &&
                      _io->read(bytes, _headerBytesSize, _handle) == _headerBytesSize &&
                      memcmp(bytes, _headerBytes, _headerBytesSize) == 0;
    _position = same ? _headerBytesSize : UINT64_MAX;
    if (!same) {
        error = ReadError(ReadErrorCode::headerMismatch);
        return false;
    }
    return true;
}

bool FileAccess::readAt(uint64_t pos, void* dst, size_t size, ReadError& error)
{
    if (size == 0) return true;
    if (!ensureOpen(error)) return false;
    if (pos != _position) {
        _io->seek(_handle, int64_t(pos));
        if (_observer) _observer->seeked();
    }
    if (_io->read(dst, size, _handle) != size) {
        _position = UINT64_MAX;
        error = ReadError(ReadErrorCode::readFailed);
        return false;
    }
    _position = pos + size;
    return true;
}

PTEX_NAMESPACE_END
