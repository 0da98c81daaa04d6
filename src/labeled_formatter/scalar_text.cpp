#include "labeled_formatter/scalar_text.hpp"

#include "labeled_formatter/copy_short.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

namespace brevant {
namespace {

char* copy(char* to, const char* from, std::size_t n) { return copy_short(to, from, n); }

char* fill_zeros(char* to, std::size_t n) {
    if (n <= 8) {
        std::memcpy(to, "00000000", 8);  // room is reserved; only n bytes count
        return to + n;
    }
    std::memset(to, '0', n);
    return to + n;
}

}  // namespace

char* write_double_text(char* p, double value) {
    if (std::isnan(value)) return copy(p, "nan", 3);
    if (std::signbit(value)) *p++ = '-';
    if (std::isinf(value)) return copy(p, "inf", 3);
    // Shortest round-trip digits come from the scientific form "d[.ddd]e±x";
    // the fixed form would print every exact digit of large magnitudes.
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific).ptr;
    const char* e = end - 4;  // the exponent has two or three digits
    if (*e != 'e') --e;
    int exponent = 0;
    for (const char* c = e + 2; c != end; ++c) exponent = exponent * 10 + (*c - '0');
    if (e[1] == '-') exponent = -exponent;
    // The first digit, then the `rest` after the decimal point, if any.
    const char first = sci[0];
    const char* rest = sci + 2;
    const std::size_t rest_size = sci[1] == '.' ? static_cast<std::size_t>(e - rest) : 0;

    // `exponent` is the power of ten of the first digit.
    if (exponent < 0) {
        p = copy(p, "0.", 2);
        p = fill_zeros(p, static_cast<std::size_t>(-exponent - 1));
        *p++ = first;
        return copy(p, rest, rest_size);
    }
    *p++ = first;
    const auto whole_rest = static_cast<std::size_t>(exponent);  // digits before the point after the first
    if (whole_rest >= rest_size) {
        p = copy(p, rest, rest_size);
        p = fill_zeros(p, whole_rest - rest_size);
        return copy(p, ".0", 2);
    }
    p = copy(p, rest, whole_rest);
    *p++ = '.';
    return copy(p, rest + whole_rest, rest_size - whole_rest);
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
