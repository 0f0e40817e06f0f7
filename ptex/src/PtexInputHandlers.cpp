// File-backed and memory-backed input handlers.

#include "PtexInputHandlers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

PTEX_NAMESPACE_BEGIN

namespace {

constexpr size_t kReadAheadBytes = 8192;

// An open file, its read position and a read-ahead buffer. Reads that continue where the last
// one ended (the faces of a level in their order, the sections read at open) are served from
// one positioned read of a buffer's worth; any other read goes straight to its destination
// with one positioned read of exactly its size, so that random access neither seeks nor copies
// a buffer it does not use.
struct OpenFile {
    int fd = -1;
    uint64_t position = 0;  // where the next read starts
    uint64_t lastEnd = 0;   // where the last read ended (the first read at 0 counts as continuing)
    uint64_t bufferStart = 0;
    size_t bufferLength = 0;
    uint8_t buffer[kReadAheadBytes];
};

struct MemoryCursor {
    uint64_t pos = 0;
};

// Reads up to `size` bytes at `pos`, fewer only at the end of the file; -1 on an error.
ssize_t readFully(int fd, void* dst, size_t size, uint64_t pos)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, static_cast<uint8_t*>(dst) + done, size - done, off_t(pos + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return ssize_t(done);
}

void closeKeepingErrno(int fd)
{
    const int code = errno;
    ::close(fd);
    errno = code;
}

}  // namespace

DefaultInputHandler& DefaultInputHandler::instance()
{
    static DefaultInputHandler handler;
    return handler;
}

PtexInputHandler::Handle DefaultInputHandler::open(const char* path)
{
    // Without O_NONBLOCK the open of a FIFO would wait for a writer; the type check below then
    // refuses everything that is not a regular file.
    const int fd = ::open(path ? path : "", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        closeKeepingErrno(fd);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    OpenFile* file = new (std::nothrow) OpenFile;
    if (!file) {
        ::close(fd);
        errno = ENOMEM;
        return nullptr;
    }
    file->fd = fd;
    return file;
}

void DefaultInputHandler::seek(Handle handle, int64_t pos)
{
    if (handle) static_cast<OpenFile*>(handle)->position = pos < 0 ? UINT64_MAX : uint64_t(pos);
}

size_t DefaultInputHandler::read(void* buffer, size_t size, Handle handle)
{
    if (!handle || !buffer || size == 0) return 0;
    OpenFile& file = *static_cast<OpenFile*>(handle);
    const uint64_t pos = file.position;
    if (pos > UINT64_MAX - size) return 0;
    if (pos >= file.bufferStart && pos - file.bufferStart <= file.bufferLength &&
        size <= file.bufferLength - size_t(pos - file.bufferStart)) {
        memcpy(buffer, file.buffer + (pos - file.bufferStart), size);
    } else if (pos == file.lastEnd && size < kReadAheadBytes) {
        const ssize_t got = readFully(file.fd, file.buffer, kReadAheadBytes, pos);
        file.bufferStart = pos;
        file.bufferLength = got > 0 ? size_t(got) : 0;
        if (file.bufferLength < size) return 0;
        memcpy(buffer, file.buffer, size);
    } else if (readFully(file.fd, buffer, size, pos) != ssize_t(size)) {
        return 0;
    }
    file.position = pos + size;
    file.lastEnd = pos + size;
    return size;
}

bool DefaultInputHandler::close(Handle handle)
{
    if (!handle) return false;
    OpenFile* file = static_cast<OpenFile*>(handle);
    const bool closed = ::close(file->fd) == 0;
    delete file;
    return closed;
}

// errno is already per thread, so the failure of this thread's last open is read from it.
// (No thread_local of our own: this library is linked into a plug-in that hosts dlopen, and
// dynamically allocated TLS blocks trip up the leak checker of the sanitizer runtime we test with.)
const char* DefaultInputHandler::lastError() { return strerror(errno); }

bool DefaultInputHandler::identify(Handle handle, InputIdentity& identity)
{
    if (!handle) return false;
    struct stat st;
    if (fstat(static_cast<OpenFile*>(handle)->fd, &st) != 0) return false;
    identity.size = uint64_t(st.st_size);
    identity.modifiedSeconds = int64_t(st.st_mtim.tv_sec);
    identity.modifiedNanoseconds = int64_t(st.st_mtim.tv_nsec);
    return true;
}

size_t DefaultInputHandler::handleBytes() const { return sizeof(OpenFile); }

MemoryInputHandler::MemoryInputHandler(const void* data, size_t size)
    : _data(static_cast<const uint8_t*>(data)), _size(size)
{}

PtexInputHandler::Handle MemoryInputHandler::open(const char*) { return new (std::nothrow) MemoryCursor; }

void MemoryInputHandler::seek(Handle handle, int64_t pos)
{
    if (handle) static_cast<MemoryCursor*>(handle)->pos = pos < 0 ? _size : uint64_t(pos);
}

size_t MemoryInputHandler::read(void* buffer, size_t size, Handle handle)
{
    if (!handle) return 0;
    MemoryCursor* cursor = static_cast<MemoryCursor*>(handle);
    if (cursor->pos >= _size) return 0;
    size_t n = size < _size - cursor->pos ? size : size_t(_size - cursor->pos);
    memcpy(buffer, _data + cursor->pos, n);
    cursor->pos += n;
    return n;
}

bool MemoryInputHandler::close(Handle handle)
{
    delete static_cast<MemoryCursor*>(handle);
    return handle != nullptr;
}

const char* MemoryInputHandler::lastError() { return "memory input unavailable"; }

bool MemoryInputHandler::identify(Handle, InputIdentity& identity)
{
    identity = InputIdentity();
    identity.size = _size;
    return true;
}

PTEX_NAMESPACE_END
