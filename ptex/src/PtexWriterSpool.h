// PtexWriterSpool: where the full-file writer keeps the encoded blocks of a file until close
// lays them out in file order. Blocks go to an unnamed temporary file beside the target (it
// is unlinked at once, so nothing is left behind whatever happens to the process), written
// through one buffer; reads at close go through a read-ahead window. When no such file can
// be made, the blocks are kept in memory, compressed as they are.
#pragma once

#include "PtexWriterEncoding.h"

#include <cstdint>
#include <string>

PTEX_NAMESPACE_BEGIN

class PtexWriterSpool {
public:
    // The temporary file is made beside `targetPath` at the first append.
    explicit PtexWriterSpool(std::string targetPath);
    ~PtexWriterSpool();
    PtexWriterSpool(const PtexWriterSpool&) = delete;
    PtexWriterSpool& operator=(const PtexWriterSpool&) = delete;

    // Appends `size` bytes and answers where they start; false when the bytes could not be
    // written (the spool is then unusable).
    bool append(const void* data, size_t size, uint64_t& offset);

    // The bytes at [offset, offset + size), valid until the next call; null on a read error.
    // Appending after reading is allowed.
    const uint8_t* read(uint64_t offset, size_t size);

    // Closes the file and frees the buffers; the spool is empty and unusable afterwards.
    void discard();

private:
    bool openFile();
    bool flush();
    bool fill(uint64_t start, size_t length);

    std::string _targetPath;
    int _fd = -1;
    bool _tried = false;  // a file was tried; without one the bytes live in _memory
    bool _failed = false;
    uint64_t _size = 0;                 // bytes appended so far
    uint64_t _flushed = 0;              // bytes already in the file
    PtexWriterEncoding::Bytes _memory;  // the write buffer, or every byte without a file
    PtexWriterEncoding::Bytes _window;
    uint64_t _windowStart = 0;
};

PTEX_NAMESPACE_END
