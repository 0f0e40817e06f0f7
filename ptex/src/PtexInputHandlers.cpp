// stdio-backed and memory-backed input handlers.

#include "PtexInputHandlers.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

PTEX_NAMESPACE_BEGIN

namespace {

// An open file with its own 8 KiB stream buffer.
struct StdioFile {
    FILE* file = nullptr;
    char buffer[8192];
};

struct MemoryCursor {
    uint64_t pos = 0;
};

}  // namespace

DefaultInputHandler& DefaultInputHandler::instance()
{
    static DefaultInputHandler handler;
    return handler;
}

PtexInputHandler::Handle DefaultInputHandler::open(const char* path)
{
    std::unique_ptr<StdioFile> f(new (std::nothrow) StdioFile);
    if (!f) {
        errno = ENOMEM;
        return nullptr;
    }
    f->file = fopen(path ? path : "", "rb");
    if (!f->file) {
        int code = errno;
        f.reset();
        errno = code;  // lastError() reads the failure from errno
        return nullptr;
    }
    setvbuf(f->file, f->buffer, _IOFBF, sizeof(f->buffer));
    return f.release();
}

void DefaultInputHandler::seek(Handle handle, int64_t pos)
{
    if (handle) fseeko(static_cast<StdioFile*>(handle)->file, off_t(pos), SEEK_SET);
}

size_t DefaultInputHandler::read(void* buffer, size_t size, Handle handle)
{
    if (!handle || size == 0) return 0;
    // Whole-or-nothing reads: a short read is a failure either way.
    return fread(buffer, size, 1, static_cast<StdioFile*>(handle)->file) == 1 ? size : 0;
}

bool DefaultInputHandler::close(Handle handle)
{
    if (!handle) return false;
    std::unique_ptr<StdioFile> f(static_cast<StdioFile*>(handle));
    return fclose(f->file) == 0;
}

// errno is already per thread, so the failure of this thread's last open is read from it.
// (No thread_local of our own: this library is linked into a plug-in that hosts dlopen, and
// dynamically allocated TLS blocks trip up the leak checker of the sanitizer runtime we test with.)
const char* DefaultInputHandler::lastError() { return strerror(errno); }

bool DefaultInputHandler::size(Handle handle, uint64_t& size)
{
    if (!handle) return false;
    struct stat st;
    if (fstat(fileno(static_cast<StdioFile*>(handle)->file), &st) != 0) return false;
    // A directory opens but has no readable bytes.
    size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    return true;
}

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

bool MemoryInputHandler::size(Handle, uint64_t& size)
{
    size = _size;
    return true;
}

PTEX_NAMESPACE_END
