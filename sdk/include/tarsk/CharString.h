// CharString: the host's shared, reference-counted text. Copies share one immutable buffer; a
// default-constructed string holds no text at all (c_str() answers null), which differs from "".
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace TUtils {

class CharString {
public:
    CharString() noexcept = default;
    // Null `text` makes a string without text.
    explicit CharString(const char* text) : shared(text ? std::make_shared<const std::string>(text) : nullptr) {}

    // The text, or null when the string holds none. Valid while any copy of this string lives.
    const char* c_str() const noexcept { return shared ? shared->c_str() : nullptr; }
    bool hasText() const noexcept { return shared != nullptr; }
    std::size_t length() const noexcept { return shared ? shared->size() : 0; }
    // Gives this copy's reference back; the string holds no text afterwards.
    void release() noexcept { shared.reset(); }
    // Copies sharing one buffer; a test and the host use it to see that no text was duplicated.
    long useCount() const noexcept { return shared.use_count(); }

    friend bool operator==(const CharString& a, const CharString& b) noexcept
    {
        if (!a.shared || !b.shared) return a.shared == b.shared;
        return *a.shared == *b.shared;
    }
    friend bool operator!=(const CharString& a, const CharString& b) noexcept { return !(a == b); }

private:
    std::shared_ptr<const std::string> shared;
};

}  // namespace TUtils
