// Open file handles and their limits. Every texture whose file handle is open is in two lists
// ordered by last use: its cache's, bounded by the cache's maxFiles, and the process's, bounded
// by one budget shared by all caches (default: a quarter of the soft RLIMIT_NOFILE, at most
// 256, at least 1), so that a process with thousands of textures never runs out of
// descriptors. When a handle is opened beyond either bound, the least recently used handles of
// other textures are closed, skipping those reading right now (the bound can be exceeded by
// that many for a moment); a closed handle is opened again on its texture's next read.
#pragma once

#include "PtexVersion.h"

#include <cstdint>

PTEX_NAMESPACE_BEGIN

// Whoever holds a handle counted against the limits.
class OpenFileOwner {
public:
    // Closes the handle unless it is reading right now; true if closed. Called with the lists
    // locked: it must not call back into them.
    virtual bool tryCloseFile() = 0;

protected:
    ~OpenFileOwner() {}
};

class OpenFileGroup;

// An owner's place in the lists: a member of the owner, guarded by the lists' lock.
struct OpenFileEntry {
    OpenFileOwner* owner = nullptr;
    OpenFileEntry* prev = nullptr;  // the process's list
    OpenFileEntry* next = nullptr;
    OpenFileEntry* groupPrev = nullptr;  // its cache's list
    OpenFileEntry* groupNext = nullptr;
    OpenFileGroup* group = nullptr;  // set while linked
};

// The handles of one cache.
class OpenFileGroup {
public:
    explicit OpenFileGroup(int maxFiles);
    OpenFileGroup(const OpenFileGroup&) = delete;
    OpenFileGroup& operator=(const OpenFileGroup&) = delete;

    // Right after the owner opened its handle, with its own file lock held: the entry becomes
    // the most recently used, and handles of others beyond the limits are closed.
    void opened(OpenFileEntry& entry);
    // A read through the handle: the entry becomes the most recently used.
    void used(OpenFileEntry& entry);
    // The owner closed its handle itself, or is going away (also when not linked). Once this
    // returns, the lists no longer reach the owner.
    void closed(OpenFileEntry& entry);

    uint64_t filesOpen() const;
    uint64_t peakFilesOpen() const;
    uint64_t totalOpens() const;

    // The process-wide budget of open handles, and a new value for it (tests; <= 0 restores
    // the default).
    static int processBudget();
    static void setProcessBudget(int budget);
    static uint64_t processFilesOpen();

private:
    friend struct OpenFileLists;
    const int _maxFiles;
    OpenFileEntry* _head = nullptr;  // least recently used first
    OpenFileEntry* _tail = nullptr;
    uint64_t _count = 0;
    uint64_t _peak = 0;
    uint64_t _opens = 0;
};

PTEX_NAMESPACE_END
