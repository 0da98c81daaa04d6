#include "labeled_formatter/scalar_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace brevant {
namespace {

char* copy(char* to, const char* from, std::size_t n) {
    std::memcpy(to, from, n);
    return to + n;
}

char* fill_zeros(char* to, std::size_t n) {
    std::memset(to, '0', n);
    return to + n;
}

}  // namespace

void double_text(TextBuffer& out, double value) {
    char* const begin = out.reserve(max_scalar_text);
    char* p = begin;
    if (std::isnan(value)) {
        out.append("nan");
        return;
    }
    if (std::signbit(value)) *p++ = '-';
    if (std::isinf(value)) {
        p = copy(p, "inf", 3);
        out.advance(p - begin);
        return;
    }
    // Shortest round-trip digits come from the scientific form ("d.ddde±x");
    // the fixed form would print every exact digit of large magnitudes.
    char sci[32];
    auto [end, ec] = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
    (void)ec;  // 32 bytes always hold a double's scientific form
    const char* e = static_cast<const char*>(std::memchr(sci, 'e', end - sci));
    char digits[20];
    std::size_t n = 0;
    for (const char* c = sci; c != e; ++c)
        if (*c != '.') digits[n++] = *c;
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);

    // `exponent` is the power of ten of the first digit.
    if (exponent < 0) {
        p = copy(p, "0.", 2);
        p = fill_zeros(p, static_cast<std::size_t>(-exponent - 1));
        p = copy(p, digits, n);
    } else if (static_cast<std::size_t>(exponent) + 1 >= n) {
        p = copy(p, digits, n);
        p = fill_zeros(p, static_cast<std::size_t>(exponent) + 1 - n);
        p = copy(p, ".0", 2);
    } else {
        std::size_t whole = static_cast<std::size_t>(exponent) + 1;
        p = copy(p, digits, whole);
        *p++ = '.';
        p = copy(p, digits + whole, n - whole);
    }
    out.advance(p - begin);
}

void scalar_text(TextBuffer& out, Scalar value) {
    switch (value.kind) {
        case Scalar::Kind::Bool:
            out.append(value.boolean ? "True" : "False");
            return;
        case Scalar::Kind::Int: {
            char* begin = out.reserve(20);
            out.advance(std::to_chars(begin, begin + 20, value.integer).ptr - begin);
            return;
        }
        case Scalar::Kind::Float:
            double_text(out, value.real);
            return;
    }
}

}  // namespace brevant
