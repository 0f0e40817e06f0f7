// The malloc family forwarded to glibc's own entry points, counting usable sizes. Memory that
// glibc's functions allocate internally without these names (e.g. reallocarray) is not seen.
#include "HeapCounter.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* ptr);
}

namespace {

std::atomic<int64_t> gLive{0};
std::atomic<int64_t> gPeak{0};

void* counted(void* ptr)
{
    if (ptr) {
        const int64_t live = gLive.fetch_add(int64_t(malloc_usable_size(ptr)), std::memory_order_relaxed) +
                             int64_t(malloc_usable_size(ptr));
        int64_t peak = gPeak.load(std::memory_order_relaxed);
        while (live > peak && !gPeak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {}
    }
    return ptr;
}

void uncount(void* ptr)
{
    if (ptr) gLive.fetch_sub(int64_t(malloc_usable_size(ptr)), std::memory_order_relaxed);
}

}  // namespace

extern "C" {

void* malloc(size_t size) { return counted(__libc_malloc(size)); }
void* calloc(size_t count, size_t size) { return counted(__libc_calloc(count, size)); }
void* realloc(void* ptr, size_t size)
{
    uncount(ptr);
    void* result = __libc_realloc(ptr, size);
    // A failed realloc keeps the old block.
    if (!result && ptr && size) return counted(ptr);
    return counted(result);
}
void free(void* ptr)
{
    uncount(ptr);
    __libc_free(ptr);
}
void* memalign(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }
void* aligned_alloc(size_t alignment, size_t size) { return counted(__libc_memalign(alignment, size)); }
int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* ptr = counted(__libc_memalign(alignment, size));
    if (!ptr) return ENOMEM;
    *out = ptr;
    return 0;
}
void* valloc(size_t size) { return counted(__libc_memalign(size_t(sysconf(_SC_PAGESIZE)), size)); }
}

namespace bench {

int64_t heapLiveBytes() { return gLive.load(std::memory_order_relaxed); }
void heapResetPeak() { gPeak.store(gLive.load(std::memory_order_relaxed), std::memory_order_relaxed); }
int64_t heapPeakBytes() { return gPeak.load(std::memory_order_relaxed); }

}  // namespace bench
