// libFuzzer target for the double renderer: every 8-byte input is a double's
// bit pattern, and its text must read back to the same double and keep the
// record format's rules (no exponent, no '+', ".0" after integral values,
// shortest digits). Build and run: see fuzz/README.md.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "labeled_formatter/scalar_text.hpp"
#include "labeled_formatter/text_buffer.hpp"

namespace {

[[noreturn]] void fail(double value, std::string_view text, const char* why) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::fprintf(stderr, "double 0x%016llx rendered \"%.*s\": %s\n", static_cast<unsigned long long>(bits),
                 static_cast<int>(text.size()), text.data(), why);
    std::abort();
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The significant digits of a positional text: no sign, no point, no leading
// or trailing zeros ("" for zero).
std::string significant_digits(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (is_digit(c)) digits.push_back(c);
    digits.erase(0, digits.find_first_not_of('0') == std::string::npos ? digits.size()
                                                                     : digits.find_first_not_of('0'));
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    return digits;
}

// The shortest round-trip digits of |value|, from the standard library's
// scientific form ("d.ddde+x"), in the same trimmed form.
std::string shortest_digits(double value) {
    char sci[64];
    auto [end, ec] = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
    if (ec != std::errc()) std::abort();
    std::string_view mantissa(sci, static_cast<std::size_t>(end - sci));
    return significant_digits(mantissa.substr(0, mantissa.find('e')));
}

void check(double value, std::string_view text) {
    if (text.size() > brevant::max_scalar_text) fail(value, text, "longer than max_scalar_text");
    if (std::isnan(value)) {
        if (text != "nan") fail(value, text, "NaN must be \"nan\"");
        return;
    }
    if (std::isinf(value)) {
        if (text != (value > 0 ? "inf" : "-inf")) fail(value, text, "infinity must be \"inf\" or \"-inf\"");
        return;
    }

    // Shape: optional '-', integer digits, '.', fraction digits; nothing else.
    std::string_view body = text;
    if (std::signbit(value) != (!body.empty() && body.front() == '-')) fail(value, text, "sign does not match");
    if (!body.empty() && body.front() == '-') body.remove_prefix(1);
    std::size_t point = body.find('.');
    if (point == std::string_view::npos) fail(value, text, "no '.'");
    std::string_view whole = body.substr(0, point), fraction = body.substr(point + 1);
    if (whole.empty() || fraction.empty()) fail(value, text, "a side of '.' is empty");
    for (std::string_view part : {whole, fraction})
        for (char c : part)
            if (!is_digit(c)) fail(value, text, "a character other than digits, one '.' and a leading '-'");
    if (whole.size() > 1 && whole.front() == '0') fail(value, text, "leading zero");

    bool integral = value == std::trunc(value);
    if (integral != (fraction == "0")) fail(value, text, "\".0\" ending does not match integrality");
    if (!integral && fraction.back() == '0') fail(value, text, "trailing zero in the fraction");

    double back = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    if (ec != std::errc() || end != text.data() + text.size()) fail(value, text, "does not parse as a double");
    if (!same_bits(back, value)) fail(value, text, "does not read back to the same double");

    if (significant_digits(text) != shortest_digits(value)) fail(value, text, "digits are not the shortest");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(double)) return 0;
    double value;
    std::memcpy(&value, data, sizeof value);

    // A prefix already in the buffer must survive the append untouched.
    brevant::TextBuffer out;
    out.append("|");
    brevant::double_text(out, value);
    std::string_view text = out.view();
    if (text.front() != '|') fail(value, text, "overwrote the text before it");
    check(value, text.substr(1));
    return 0;
}
