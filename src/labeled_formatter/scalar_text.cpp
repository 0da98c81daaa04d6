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

char* write_double_text(char* p, double value) {
    if (std::isnan(value)) return copy(p, "nan", 3);
    if (std::signbit(value)) *p++ = '-';
    if (std::isinf(value)) return copy(p, "inf", 3);
    // Shortest round-trip digits come from the scientific form ("d.ddde±x");
    // the fixed form would print every exact digit of large magnitudes.
    char sci[32];
    char* end = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific).ptr;
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
        return copy(p, digits, n);
    }
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (whole >= n) {
        p = copy(p, digits, n);
        p = fill_zeros(p, whole - n);
        return copy(p, ".0", 2);
    }
    p = copy(p, digits, whole);
    *p++ = '.';
    return copy(p, digits + whole, n - whole);
}

char* write_scalar_text(char* p, Scalar value) {
    switch (value.kind) {
        case Scalar::Kind::Bool:
            return value.boolean ? copy(p, "True", 4) : copy(p, "False", 5);
        case Scalar::Kind::Int:
            return std::to_chars(p, p + 20, value.integer).ptr;
        case Scalar::Kind::Float:
            return write_double_text(p, value.real);
    }
    return p;
}

void double_text(TextBuffer& out, double value) {
    char* begin = out.reserve(max_scalar_text);
    out.advance(write_double_text(begin, value) - begin);
}

void scalar_text(TextBuffer& out, Scalar value) {
    char* begin = out.reserve(max_scalar_text);
    out.advance(write_scalar_text(begin, value) - begin);
}

}  // namespace brevant
