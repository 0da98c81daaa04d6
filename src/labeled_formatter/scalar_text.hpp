#pragma once
// The text of one scalar, as it appears in a record's value field.

#include <cstddef>

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
char* write_scalar_text(char* p, Scalar value);

}  // namespace brevant
