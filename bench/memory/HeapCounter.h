// Peak heap use of a stretch of a benchmark: the program's malloc family is interposed, so
// every allocation of the process (operator new, zlib, stdio buffers) is counted in usable
// bytes. A bench program that links bench_heap_counter gets the counting; the figures are
// exact and independent of page reuse, unlike the resident set size.
#pragma once

#include <cstdint>

namespace bench {

// Bytes allocated and not yet freed.
int64_t heapLiveBytes();
// Starts a measurement: the peak is set to what is live now.
void heapResetPeak();
// The highest live byte count since the last reset.
int64_t heapPeakBytes();

}  // namespace bench
