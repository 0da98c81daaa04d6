#pragma once
// Well-formed UTF-8, exactly as a strict decoder takes it (no surrogates,
// no overlong forms, nothing past U+10FFFF), so text that passes here always
// becomes a Python str.

#include <cstddef>
#include <string_view>

namespace brevant::reader {

// The length of the well-formed sequence that starts at `p`, or 0 when none does.
inline std::size_t utf8_sequence_length(const unsigned char* p, const unsigned char* end) noexcept {
    unsigned lead = *p;
    if (lead < 0x80) return 1;
    int tail;
    unsigned low = 0x80, high = 0xBF;  // the bounds of the first continuation byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        tail = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        tail = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        tail = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (end - p <= tail || p[1] < low || p[1] > high) return 0;
    for (int i = 2; i <= tail; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return static_cast<std::size_t>(tail) + 1;
}

inline bool is_utf8(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p != end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        std::size_t length = utf8_sequence_length(p, end);
        if (!length) return false;
        p += length;
    }
    return true;
}

}  // namespace brevant::reader
