#pragma once
// Texts of whole values: the generic text, the bit string of RESULT_ARRAY and
// the lower-case truth of BOOL. Each appends to `out` and reports whether the
// value has such a text; when it has none, nothing is appended.

#include <span>
#include <string_view>

#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/text_buffer.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

bool value_text(TextBuffer& out, const OutputValue& value);
bool bit_text(TextBuffer& out, std::span<const Scalar> items);
bool is_truthy(const OutputValue& value);

// The rule of a type text given by a caller, compared exactly as a whole.
FormatOutcome special_text(TextBuffer& out, std::string_view type, const OutputValue& value);

// The value field of an OUTPUT record; false when the value is malformed for the type.
bool record_value_text(TextBuffer& out, QirType type, const OutputValue& value);

}  // namespace brevant
