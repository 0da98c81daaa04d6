#pragma once
// The text of one scalar, as it appears in a record's value field.

#include <charconv>
#include <cstddef>

#include "common/compiler.hpp"
#include "labeled_formatter/copy_short.hpp"
#include "labeled_formatter/text_buffer.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

// Longest text a scalar can take: a subnormal double laid out positionally
// ("-0." + 323 zeros + 17 digits) is 343 bytes.
inline constexpr std::size_t max_scalar_text = 352;

void scalar_text(TextBuffer& out, Scalar value);

// Appends the positional decimal text of a double: shortest round-trip digits,
// never an exponent, ".0" after an integral value; "nan", "inf", "-inf".
void double_text(TextBuffer& out, double value);

// The same texts written at `p`, which has room for max_scalar_text bytes;
// return the end of the text.
char* write_double_text(char* p, double value);

BREVANT_INLINE char* write_scalar_text(char* p, Scalar value) {
    switch (value.kind) {
        case Scalar::Kind::Bool:
            return value.boolean ? copy_short(p, "True", 4) : copy_short(p, "False", 5);
        case Scalar::Kind::Int:
            return std::to_chars(p, p + 20, value.integer).ptr;
        case Scalar::Kind::Float:
            return write_double_text(p, value.real);
    }
    return p;
}

}  // namespace brevant
