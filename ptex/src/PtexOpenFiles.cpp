// The lists of open handles: one lock for the process, intrusive lists, closing beyond limits.
#include "PtexOpenFiles.h"

#include <sys/resource.h>

#include <algorithm>
#include <mutex>
#include <new>

PTEX_NAMESPACE_BEGIN

namespace {

constexpr int kMaxBudget = 256;

int defaultBudget()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxBudget;
    return int(std::clamp<rlim_t>(limit.rlim_cur / 4, 1, kMaxBudget));
}

}  // namespace

// The process's list and its lock; the groups' lists are guarded by the same lock.
struct OpenFileLists {
    std::mutex mutex;
    OpenFileEntry* head = nullptr;  // least recently used first
    OpenFileEntry* tail = nullptr;
    uint64_t count = 0;
    int budget = 0;  // 0: not yet read from the limits

    // Never destroyed, as textures held by static objects may close their handles at exit; made
    // in static storage rather than on the heap, so that a plug-in unloaded with this library
    // in it leaves nothing behind.
    static OpenFileLists& instance()
    {
        alignas(OpenFileLists) static unsigned char storage[sizeof(OpenFileLists)];
        static OpenFileLists* lists = new (storage) OpenFileLists;
        return *lists;
    }

    int budgetLocked()
    {
        if (budget <= 0) budget = defaultBudget();
        return budget;
    }

    void linkLocked(OpenFileEntry& e, OpenFileGroup& group)
    {
        e.group = &group;
        e.prev = tail;
        e.next = nullptr;
        (tail ? tail->next : head) = &e;
        tail = &e;
        ++count;
        e.groupPrev = group._tail;
        e.groupNext = nullptr;
        (group._tail ? group._tail->groupNext : group._head) = &e;
        group._tail = &e;
        ++group._count;
        group._peak = std::max(group._peak, group._count);
    }

    void unlinkLocked(OpenFileEntry& e)
    {
        OpenFileGroup& group = *e.group;
        (e.prev ? e.prev->next : head) = e.next;
        (e.next ? e.next->prev : tail) = e.prev;
        --count;
        (e.groupPrev ? e.groupPrev->groupNext : group._head) = e.groupNext;
        (e.groupNext ? e.groupNext->groupPrev : group._tail) = e.groupPrev;
        --group._count;
        e.prev = e.next = e.groupPrev = e.groupNext = nullptr;
        e.group = nullptr;
    }

    // Closes least recently used handles other than `keep`'s while `over` says a limit is
    // exceeded, walking one list from `first` (its oldest entry) with `nextOf`.
    template <class Over, class First, class Next>
    void closeBeyondLocked(const OpenFileEntry& keep, Over over, First first, Next nextOf)
    {
        OpenFileEntry* e = first();
        while (e && over()) {
            OpenFileEntry* following = nextOf(e);
            if (e != &keep && e->owner->tryCloseFile()) unlinkLocked(*e);
            e = following;
        }
    }
};

OpenFileGroup::OpenFileGroup(int maxFiles) : _maxFiles(maxFiles <= 0 ? 100 : maxFiles) {}

void OpenFileGroup::opened(OpenFileEntry& entry)
{
    OpenFileLists& lists = OpenFileLists::instance();
    std::lock_guard<std::mutex> lock(lists.mutex);
    if (entry.group) lists.unlinkLocked(entry);
    lists.linkLocked(entry, *this);
    ++_opens;
    lists.closeBeyondLocked(
        entry, [this] { return _count > uint64_t(_maxFiles); }, [this] { return _head; },
        [](OpenFileEntry* e) { return e->groupNext; });
    const uint64_t budget = uint64_t(lists.budgetLocked());
    lists.closeBeyondLocked(
        entry, [&lists, budget] { return lists.count > budget; }, [&lists] { return lists.head; },
        [](OpenFileEntry* e) { return e->next; });
}

void OpenFileGroup::used(OpenFileEntry& entry)
{
    OpenFileLists& lists = OpenFileLists::instance();
    std::lock_guard<std::mutex> lock(lists.mutex);
    if (!entry.group || (lists.tail == &entry && _tail == &entry)) return;
    lists.unlinkLocked(entry);
    lists.linkLocked(entry, *this);
}

void OpenFileGroup::closed(OpenFileEntry& entry)
{
    OpenFileLists& lists = OpenFileLists::instance();
    std::lock_guard<std::mutex> lock(lists.mutex);
    if (entry.group) lists.unlinkLocked(entry);
}

uint64_t OpenFileGroup::filesOpen() const
{
    std::lock_guard<std::mutex> lock(OpenFileLists::instance().mutex);
    return _count;
}

uint64_t OpenFileGroup::peakFilesOpen() const
{
    std::lock_guard<std::mutex> lock(OpenFileLists::instance().mutex);
    return _peak;
}

uint64_t OpenFileGroup::totalOpens() const
{
    std::lock_guard<std::mutex> lock(OpenFileLists::instance().mutex);
    return _opens;
}

int OpenFileGroup::processBudget()
{
    OpenFileLists& lists = OpenFileLists::instance();
    std::lock_guard<std::mutex> lock(lists.mutex);
    return lists.budgetLocked();
}

void OpenFileGroup::setProcessBudget(int budget)
{
    OpenFileLists& lists = OpenFileLists::instance();
    std::lock_guard<std::mutex> lock(lists.mutex);
    lists.budget = budget > 0 ? budget : 0;
}

uint64_t OpenFileGroup::processFilesOpen()
{
    OpenFileLists& lists = OpenFileLists::instance();
    std::lock_guard<std::mutex> lock(lists.mutex);
    return lists.count;
}

PTEX_NAMESPACE_END
