// FilterScratch: a filter's working floats (accumulators, row sums) on cache lines of their own.
// They are written throughout every evaluation, and the filters of different render threads are
// usually made one after another by one thread, so that ordinary allocations would put them
// side by side: threads would then fight over a shared line on every evaluation.
#pragma once

#include "PtexVersion.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

PTEX_NAMESPACE_BEGIN

class FilterScratch {
public:
    static constexpr size_t kLine = 64;

    // count zero-filled floats (at least one line); throws std::bad_alloc.
    void assign(size_t count, float value)
    {
        const size_t bytes = std::max<size_t>((count * sizeof(float) + kLine - 1) / kLine * kLine, kLine);
        float* memory = static_cast<float*>(::operator new(bytes, std::align_val_t(kLine)));
        _data.reset(memory);
        _size = count;
        std::fill(memory, memory + bytes / sizeof(float), value);
    }
    float* data() const { return _data.get(); }
    size_t size() const { return _size; }

private:
    struct Free {
        void operator()(float* p) const { ::operator delete(p, std::align_val_t(kLine)); }
    };
    std::unique_ptr<float, Free> _data;
    size_t _size = 0;
};

PTEX_NAMESPACE_END
