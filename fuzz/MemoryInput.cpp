#include "MemoryInput.h"

#include <algorithm>
#include <cstring>

namespace tarsk::fuzz {

PtexInputHandler::Handle MemoryInput::open(const char* /*path*/)
{
    for (int i = 0; i < kMaxHandles; ++i) {
        if (!inUse[i]) {
            inUse[i] = true;
            positions[i] = 0;
            // Handles are slot number + 1 so that none is null (null means "open failed").
            return reinterpret_cast<Handle>(static_cast<intptr_t>(i + 1));  // NOLINT(performance-no-int-to-ptr)
        }
    }
    return nullptr;
}

void MemoryInput::seek(Handle handle, int64_t pos)
{
    const intptr_t slot = reinterpret_cast<intptr_t>(handle) - 1;
    if (slot >= 0 && slot < kMaxHandles) positions[slot] = pos;
}

size_t MemoryInput::read(void* buffer, size_t count, Handle handle)
{
    const intptr_t slot = reinterpret_cast<intptr_t>(handle) - 1;
    if (slot < 0 || slot >= kMaxHandles || !inUse[slot]) return 0;
    const int64_t pos = positions[slot];
    if (pos < 0 || static_cast<uint64_t>(pos) >= size) return 0;
    const size_t n = std::min(count, size - static_cast<size_t>(pos));
    std::memcpy(buffer, bytes + pos, n);
    positions[slot] = pos + static_cast<int64_t>(n);
    return n;
}

bool MemoryInput::close(Handle handle)
{
    const intptr_t slot = reinterpret_cast<intptr_t>(handle) - 1;
    if (slot < 0 || slot >= kMaxHandles || !inUse[slot]) return false;
    inUse[slot] = false;
    return true;
}

}  // namespace tarsk::fuzz
