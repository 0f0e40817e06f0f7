// The writer's spool: an unlinked temporary file with a 1 MiB write buffer. Reads at close are
// mostly in the order of the appends (faces written in id order), so a read outside the
// window fetches the next 1 MiB, or the previous one when the reads run backwards; far jumps
// fetch only the block, so that a file written in random face order costs one read per block.

#include "PtexWriterSpool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

PTEX_NAMESPACE_BEGIN

namespace {

constexpr size_t kBufferSize = size_t(1) << 20;

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool readAll(int fd, uint64_t offset, uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = ::pread(fd, data, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        size -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

}  // namespace

PtexWriterSpool::PtexWriterSpool(std::string targetPath) : _targetPath(std::move(targetPath)) {}

PtexWriterSpool::~PtexWriterSpool()
{
    if (_fd >= 0) ::close(_fd);
}

void PtexWriterSpool::discard()
{
    if (_fd >= 0) ::close(_fd);
    _fd = -1;
    _tried = true;
    _failed = true;
    _memory = {};
    _window = {};
}

bool PtexWriterSpool::openFile()
{
    _tried = true;
    std::vector<char> name(_targetPath.begin(), _targetPath.end());
    const char suffix[] = ".spool.XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof(suffix));
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    ::unlink(name.data());
    _fd = fd;
    _memory.reserve(kBufferSize);
    return true;
}

bool PtexWriterSpool::flush()
{
    if (_fd < 0 || _memory.empty()) return true;
    if (!writeAll(_fd, _memory.data(), _memory.size())) return false;
    _flushed += _memory.size();
    _memory.clear();
    return true;
}

bool PtexWriterSpool::append(const void* data, size_t size, uint64_t& offset)
{
    if (_failed) return false;
    if (!_tried) openFile();
    offset = _size;
    if (_fd >= 0) {
        if (_memory.size() + size > kBufferSize) {
            if (!flush()) {
                _failed = true;
                return false;
            }
            if (size >= kBufferSize) {
                if (!writeAll(_fd, static_cast<const uint8_t*>(data), size)) {
                    _failed = true;
                    return false;
                }
                _flushed += size;
                _size += size;
                return true;
            }
        }
    }
    PtexWriterEncoding::putBytes(_memory, data, size);
    _size += size;
    return true;
}

bool PtexWriterSpool::fill(uint64_t start, size_t length)
{
    _window.resize(length);
    if (!readAll(_fd, start, _window.data(), length)) {
        _window.clear();
        return false;
    }
    _windowStart = start;
    return true;
}

const uint8_t* PtexWriterSpool::read(uint64_t offset, size_t size)
{
    if (_failed || offset > _size || size > _size - offset) return nullptr;
    if (_fd < 0) return _memory.data() + offset;
    // Bytes still in the write buffer are read from it.
    if (offset >= _flushed) return _memory.data() + (offset - _flushed);
    if (offset + size > _flushed && !flush()) {
        _failed = true;
        return nullptr;
    }
    const uint64_t windowEnd = _windowStart + _window.size();
    if (offset >= _windowStart && offset + size <= windowEnd) return _window.data() + (offset - _windowStart);

    uint64_t start = offset;
    size_t length = size;
    if (size < kBufferSize) {
        if (offset >= windowEnd && offset - windowEnd < kBufferSize) {
            length = size_t(std::min<uint64_t>(kBufferSize, _flushed - offset));
        } else if (offset + size <= _windowStart && _windowStart - (offset + size) < kBufferSize) {
            start = offset + size >= kBufferSize ? offset + size - kBufferSize : 0;
            length = size_t(offset + size - start);
        }
    }
    if (!fill(start, length)) {
        _failed = true;
        return nullptr;
    }
    return _window.data() + (offset - start);
}

PTEX_NAMESPACE_END
