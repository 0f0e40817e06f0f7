// The library's own input handlers: DefaultInputHandler reads files with positioned reads of
// the file descriptor (used by PtexTexture::open and by caches without a handler);
// MemoryInputHandler serves one in-memory buffer, so the whole reader can be driven (and
// fuzzed) without touching the file system. Both can tell what they opened (its size, and for
// files the modification time), which the reader checks every size against and compares again
// when it opens a file anew.
#pragma once

#include "Ptexture.h"

#include <cstdint>
#include <string>

PTEX_NAMESPACE_BEGIN

// What identifies the contents of an opened input: a file reopened later must show the same.
struct InputIdentity {
    uint64_t size = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    bool operator==(const InputIdentity& other) const
    {
        return size == other.size && modifiedSeconds == other.modifiedSeconds &&
               modifiedNanoseconds == other.modifiedNanoseconds;
    }
    bool operator!=(const InputIdentity& other) const { return !(*this == other); }
};

// An input handler that can tell the identity of an opened input, and how much memory an open
// handle holds (counted in the cache's memory while the handle is open).
class SizedInputHandler : public PtexInputHandler {
public:
    virtual bool identify(Handle handle, InputIdentity& identity) = 0;
    virtual size_t handleBytes() const { return 0; }
    ~SizedInputHandler() override {}
};

class DefaultInputHandler : public SizedInputHandler {
public:
    // Opens regular files only: a directory fails with EISDIR; a FIFO, a device or a socket
    // fails with EINVAL without blocking (the open itself does not wait for a writer).
    Handle open(const char* path) override;
    void seek(Handle handle, int64_t pos) override;
    // Whole-or-nothing: size on success, 0 otherwise.
    size_t read(void* buffer, size_t size, Handle handle) override;
    bool close(Handle handle) override;
    const char* lastError() override;
    bool identify(Handle handle, InputIdentity& identity) override;
    size_t handleBytes() const override;

    // The process-wide instance used where no handler was given; stateless apart from the
    // per-thread error text.
    static DefaultInputHandler& instance();
};

// Serves one buffer (not copied; it must outlive every texture read through this handler)
// under any path.
class MemoryInputHandler : public SizedInputHandler {
public:
    MemoryInputHandler(const void* data, size_t size);
    Handle open(const char* path) override;
    void seek(Handle handle, int64_t pos) override;
    size_t read(void* buffer, size_t size, Handle handle) override;
    bool close(Handle handle) override;
    const char* lastError() override;
    bool identify(Handle handle, InputIdentity& identity) override;

private:
    const uint8_t* _data;
    size_t _size;
};

PTEX_NAMESPACE_END
