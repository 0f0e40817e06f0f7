// ListRef: the host's handle on the storage of a list parameter (element pointer, shared owner,
// element count). Handles are plain values; whoever receives one from a getter releases it once.
// The parameter's own value keeps a reference too, so a released handle leaves the data alive.
#pragma once

#include <atomic>
#include <cstdint>

namespace TUtils {

// One vertex of a "vertices" list: three packed floats, so that a list of n vectors is also
// an array of 3n floats (vertex i at elements 3i, 3i+1, 3i+2).
struct Vector3f {
    float x, y, z;
};
static_assert(sizeof(Vector3f) == 3 * sizeof(float), "Vector3f must be three packed floats");

// Reference-counted owner of a list's elements. The host creates it with one reference (the
// parameter value's own); every handed-out ListRef adds one.
class ListOwner {
public:
    ListOwner() noexcept : refCount(1) {}
    ListOwner(const ListOwner&) = delete;
    ListOwner& operator=(const ListOwner&) = delete;

    void retain() noexcept { refCount.fetch_add(1, std::memory_order_relaxed); }

    // Drops one reference; when none is left the owner frees the elements and then itself.
    void releaseRef() noexcept
    {
        if (refCount.fetch_sub(1, std::memory_order_acq_rel) - 1 <= 0) destroy();
    }

    int useCount() const noexcept { return refCount.load(std::memory_order_acquire); }

protected:
    virtual ~ListOwner() = default;
    virtual void destroy() noexcept { delete this; }

private:
    std::atomic<int> refCount;
};

template <typename T>
struct ListRef {
    T* data = nullptr;
    ListOwner* owner = nullptr;
    int32_t count = 0;

    // Gives the handle's reference back; the handle is empty afterwards, whatever it held.
    void release() noexcept
    {
        if (owner) owner->releaseRef();
        data = nullptr;
        owner = nullptr;
        count = 0;
    }
};

}  // namespace TUtils
