// SharedList: host-side storage of one list value. The elements live in a ListOwner whose count
// starts at one (the value's own reference); ListRefs handed out add references, so a plug-in's
// release never frees what the parameter still holds.
#pragma once

#include <tarsk/ListRef.h>

#include <utility>
#include <vector>

namespace TUtils {

template <typename T>
class SharedList {
public:
    SharedList() = default;
    explicit SharedList(std::vector<T> values) : owner(new Owner(std::move(values))) {}
    SharedList(const SharedList& other) noexcept : owner(other.owner)
    {
        if (owner) owner->retain();
    }
    SharedList(SharedList&& other) noexcept : owner(std::exchange(other.owner, nullptr)) {}
    SharedList& operator=(SharedList other) noexcept
    {
        std::swap(owner, other.owner);
        return *this;
    }
    ~SharedList()
    {
        if (owner) owner->releaseRef();
    }

    // A new handle on the elements with its own reference; the caller releases it once.
    ListRef<T> makeRef() const noexcept
    {
        ListRef<T> ref;
        if (!owner) return ref;
        owner->retain();
        ref.data = owner->elements.empty() ? nullptr : owner->elements.data();
        ref.owner = owner;
        ref.count = static_cast<int32_t>(owner->elements.size());
        return ref;
    }

    const std::vector<T>* elements() const noexcept { return owner ? &owner->elements : nullptr; }
    int useCount() const noexcept { return owner ? owner->useCount() : 0; }

private:
    class Owner final : public ListOwner {
    public:
        explicit Owner(std::vector<T> values) : elements(std::move(values)) {}
        std::vector<T> elements;
    };
    Owner* owner = nullptr;
};

}  // namespace TUtils
