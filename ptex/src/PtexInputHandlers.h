// The library's own input handlers: DefaultInputHandler reads files with C stdio (used by
// PtexTexture::open and by caches without a handler); MemoryInputHandler serves one in-memory
// buffer, so the whole reader can be driven (and fuzzed) without touching the file system.
// Both can report the size of what they opened, which the reader checks every size against.
#pragma once

#include "Ptexture.h"

#include <cstdint>
#include <string>

PTEX_NAMESPACE_BEGIN

// An input handler that can tell the total size of an opened input.
class SizedInputHandler : public PtexInputHandler {
public:
    virtual bool size(Handle handle, uint64_t& size) = 0;
    ~SizedInputHandler() override {}
};

class DefaultInputHandler : public SizedInputHandler {
public:
    Handle open(const char* path) override;
    void seek(Handle handle, int64_t pos) override;
    size_t read(void* buffer, size_t size, Handle handle) override;
    bool close(Handle handle) override;
    const char* lastError() override;
    bool size(Handle handle, uint64_t& size) override;

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
    bool size(Handle handle, uint64_t& size) override;

private:
    const uint8_t* _data;
    size_t _size;
};

PTEX_NAMESPACE_END
