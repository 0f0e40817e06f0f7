#include "ShortText.h"

#include <cstdio>

namespace tarsk::host {

namespace {

// Length of the well-formed UTF-8 sequence of more than one byte at text[i], or 0 when the bytes
// there are not one (a lone continuation byte, an overlong form, a surrogate, past U+10FFFF).
size_t utf8Sequence(std::string_view text, size_t i)
{
    const auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    size_t n = 0;
    unsigned char lo = 0x80, hi = 0xbf;  // range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        n = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        n = 3;
        if (lead == 0xe0) lo = 0xa0;
        if (lead == 0xed) hi = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        n = 4;
        if (lead == 0xf0) lo = 0x90;
        if (lead == 0xf4) hi = 0x8f;
    } else {
        return 0;
    }
    if (i + n > text.size() || at(i + 1) < lo || at(i + 1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xbf) return 0;
    return n;
}

}  // namespace

std::string shortText(std::string_view text, size_t length)
{
    std::string out;
    size_t i = 0;
    while (i < text.size() && i < length) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            out += static_cast<char>(byte);
            ++i;
        } else if (size_t n = byte >= 0x80 ? utf8Sequence(text, i) : 0; n > 0) {
            // Well-formed characters of other scripts are shown as they are, never cut in two.
            out.append(text.substr(i, n));
            i += n;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, byte == '\\' ? "\\\\" : "\\x%02x", byte);
            out += escaped;
            ++i;
        }
    }
    if (i < text.size()) out += "...";
    return out;
}

}  // namespace tarsk::host
