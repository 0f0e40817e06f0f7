// FileAccess: positioned reads of one Ptex file through an input handler. It keeps the handle,
// skips seeks where the position is already right, and opens the handle again after a cache
// closed it, checking that the file is still the one that was opened (its size and
// modification time where the handler can tell them, and its header bytes). Not thread-safe:
// its owner serialises every call.
#pragma once

#include "PtexFileIndex.h"
#include "PtexInputHandlers.h"
#include "Ptexture.h"

#include <cstdint>
#include <string>

PTEX_NAMESPACE_BEGIN

class FileAccess final : public ByteSource {
public:
    // Told when the handle was opened or closed (for the open-file limits), and of every seek.
    class Observer {
    public:
        virtual void handleOpened() = 0;
        virtual void handleClosed() = 0;
        virtual void seeked() = 0;

    protected:
        ~Observer() {}
    };

    FileAccess(const std::string& path, PtexInputHandler* io, bool defaultHandler);
    ~FileAccess();
    FileAccess(const FileAccess&) = delete;
    FileAccess& operator=(const FileAccess&) = delete;

    void setObserver(Observer* observer) { _observer = observer; }
    const std::string& path() const { return _path; }
    // Memory an open handle holds.
    size_t handleBytes() const { return _sized ? _sized->handleBytes() : 0; }

    // The first open: learns the size and identity. False with the error when the path cannot
    // be opened (with the default handler: also when it names a FIFO, a device or a socket).
    bool open(ReadError& error);
    // After open and parsing: what a reopened handle must show again.
    void rememberIdentity(const FileIndex& index);
    bool isOpen() const { return _handle != nullptr; }
    // Closes the handle; the observer hears of it unless the caller is the one who asked.
    void close(bool notifyObserver = true);

    uint64_t size() const override { return _size; }
    bool readAt(uint64_t pos, void* dst, size_t size, ReadError& error) override;

private:
    bool ensureOpen(ReadError& error);

    const std::string _path;
    PtexInputHandler* const _io;
    const bool _defaultHandler;
    Observer* _observer = nullptr;
    PtexInputHandler::Handle _handle = nullptr;
    uint64_t _size = 0;
    uint64_t _position = UINT64_MAX;      // where the handle stands; unknown after a failure
    SizedInputHandler* _sized = nullptr;  // the handler, if it can tell the identity
    InputIdentity _identity;
    uint8_t _headerBytes[PtexIO::kHeaderSize + PtexIO::kExtHeaderSize] = {};
    size_t _headerBytesSize = 0;
};

PTEX_NAMESPACE_END
