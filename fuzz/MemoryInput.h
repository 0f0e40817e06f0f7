// MemoryInput: a Ptex input handler that serves one byte buffer under any path, so a fuzz target
// can hand arbitrary bytes to the reader without touching the disk. Single-threaded use only.
#pragma once

#include <Ptexture.h>

#include <cstddef>
#include <cstdint>

namespace tarsk::fuzz {

class MemoryInput final : public PtexInputHandler {
public:
    MemoryInput(const uint8_t* bytes, size_t size) : bytes(bytes), size(size) {}
    ~MemoryInput() override = default;

    Handle open(const char* path) override;
    void seek(Handle handle, int64_t pos) override;
    size_t read(void* buffer, size_t count, Handle handle) override;
    bool close(Handle handle) override;
    const char* lastError() override { return "no such buffer"; }

private:
    // One read position per open handle; the library opens a file more than once only after
    // closing it, but a few slots keep reopen-while-open paths exercised too.
    static constexpr int kMaxHandles = 4;
    const uint8_t* bytes;
    size_t size;
    int64_t positions[kMaxHandles] = {};
    bool inUse[kMaxHandles] = {};
};

}  // namespace tarsk::fuzz
