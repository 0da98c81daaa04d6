#include "labeled_checker/message.hpp"

#include <charconv>
#include <vector>

#include "labeled_reader/utf8.hpp"

namespace brevant::checker {
namespace {

constexpr std::size_t shown_chars = 40;

// The code point that starts at `p` and its length in bytes; a byte that
// starts no sequence stands for U+DC80 + byte, as surrogateescape decodes it.
std::pair<char32_t, std::size_t> decode(const unsigned char* p, const unsigned char* end) noexcept {
    std::size_t length = reader::utf8_sequence_length(p, end);
    if (length == 0) return {0xDC00 + *p, 1};
    if (length == 1) return {*p, 1};
    char32_t code = *p & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) code = (code << 6) | (p[i] & 0x3F);
    return {code, length};
}

void append_hex(std::string& out, char32_t value, int digits, const char* alphabet) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += alphabet[(value >> shift) & 0xF];
}

}  // namespace

std::string message(Code code, std::initializer_list<Detail> details) {
    std::string_view text = text_of(code).message;
    std::string out;
    while (!text.empty()) {
        std::size_t open = text.find('{');
        out.append(text.substr(0, open));
        if (open == std::string_view::npos) break;
        std::size_t close = text.find('}', open);
        std::string_view name = text.substr(open + 1, close - open - 1);
        for (const Detail& detail : details)
            if (detail.name == name) out.append(detail.value);
        text.remove_prefix(close + 1);
    }
    return out;
}

std::string shown(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    std::vector<char32_t> chars;
    while (p != end && chars.size() <= shown_chars) {
        auto [code, length] = decode(p, end);
        chars.push_back(code);
        p += length;
    }
    if (chars.size() > shown_chars) {
        chars.resize(shown_chars);
        chars.insert(chars.end(), 3, U'.');
    }
    bool has_single = false, has_double = false;
    for (char32_t c : chars) {
        has_single |= c == U'\'';
        has_double |= c == U'"';
    }
    char quote = has_single && !has_double ? '"' : '\'';
    std::string out(1, quote);
    for (char32_t c : chars) {
        if (c == static_cast<char32_t>(quote) || c == U'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == U'\t') {
            out += "\\t";
        } else if (c == U'\n') {
            out += "\\n";
        } else if (c == U'\r') {
            out += "\\r";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c <= 0xFF) {
            out += "\\x";
            append_hex(out, c, 2, "0123456789abcdef");
        } else if (c <= 0xFFFF) {
            out += "\\u";
            append_hex(out, c, 4, "0123456789abcdef");
        } else {
            out += "\\U";
            append_hex(out, c, 8, "0123456789abcdef");
        }
    }
    out += quote;
    return out;
}

std::string character_name(const char* at, const char* end) {
    auto [code, length] = decode(reinterpret_cast<const unsigned char*>(at), reinterpret_cast<const unsigned char*>(end));
    std::string out;
    if (code >= 0xDC80 && code <= 0xDCFF) {
        out = "the byte 0x";
        append_hex(out, code - 0xDC00, 2, "0123456789ABCDEF");
    } else {
        out = "U+";
        append_hex(out, code, code > 0xFFFF ? (code > 0xFFFFF ? 6 : 5) : 4, "0123456789ABCDEF");
    }
    return out;
}

std::string decimal(std::uint64_t value) {
    char digits[20];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, end);
}

}  // namespace brevant::checker
