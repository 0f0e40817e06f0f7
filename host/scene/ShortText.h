// ShortText: how the host programs quote text from their inputs in a message: at most a few dozen
// characters, with control bytes and bytes that are not well-formed UTF-8 shown as \xNN, so that
// a line of a megabyte or a file in another encoding gives a readable message of bounded size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarsk::host {

// Characters of the input that a quotation shows before it is cut with "...".
constexpr size_t kShortTextLength = 40;

// `text`'s first `length` bytes, escaped as above, with "..." when something was cut.
std::string shortText(std::string_view text, size_t length = kShortTextLength);

}  // namespace tarsk::host
