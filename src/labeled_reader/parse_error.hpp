#pragma once
// A departure from the record format, located in the document.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brevant::reader {

// Deliberately not a std::exception: the binding turns these into the
// caller's parse error, and anything else into an internal failure.
struct ParseError {
    std::uint64_t line;    // 1-based
    std::uint64_t column;  // 1-based byte offset in the line
    std::string message;
};

inline constexpr std::size_t quoted_max = 40;

// A field as an error message shows it: short, and with control and
// non-ASCII bytes escaped, so the message stays one printable line.
inline std::string quoted(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < quoted_max; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7f || c == '\\' || c == '\'') {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > quoted_max) out += "...";
    out += "'";
    return out;
}

}  // namespace brevant::reader
