#pragma once
#include <cstddef>
#include <cstdint>

namespace qor {

// Decodes UTF-8 into UTF-16 code units. Every maximal subpart of an ill-formed
// sequence (a byte that cannot start one, or a start whose next byte is out
// of range) becomes one U+FFFD, which is the rule Unicode recommends and
// browsers follow, so a page sees the same text whatever system it runs on.
// Writes the units to out unless out is null; returns how many there are.
template <typename Unit>
size_t Utf16FromUtf8(const unsigned char* text, size_t length, Unit* out) {
    size_t units = 0;
    auto put = [&](uint32_t unit) {
        if (out) out[units] = static_cast<Unit>(unit);
        ++units;
    };
    auto continuation = [](unsigned char c) { return c >= 0x80 && c <= 0xBF; };
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = text[i];
        if (lead < 0x80) {
            put(lead);
            ++i;
            continue;
        }
        // How many continuation bytes follow the lead, and the range of the first.
        uint32_t more = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) more = 1;
        else if (lead >= 0xE0 && lead <= 0xEF) more = 2, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4) more = 3, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        uint32_t code = more == 1 ? lead & 0x1F : more == 2 ? lead & 0x0F : lead & 0x07;
        size_t next = i + 1;
        bool whole = more != 0;
        for (uint32_t k = 0; k < more; ++k, ++next) {
            const bool inRange = next < length && (k == 0 ? text[next] >= low && text[next] <= high : continuation(text[next]));
            if (!inRange) {
                whole = false;
                break;
            }
            code = (code << 6) | (text[next] & 0x3F);
        }
        i = next;
        if (!whole) {
            put(0xFFFD);
        } else if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return units;
}

}  // namespace qor
