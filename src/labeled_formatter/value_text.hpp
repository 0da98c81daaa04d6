#pragma once
// Texts of whole values: the generic text, the bit string of RESULT_ARRAY and
// the lower-case truth of BOOL. Each appends to `out` and reports whether the
// value has such a text; when it has none, nothing is appended.

#include <cstdint>
#include <span>

#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/text_buffer.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

bool value_text(TextBuffer& out, const OutputValue& value);
bool bit_text(TextBuffer& out, std::span<const Scalar> items);
bool is_truthy(const OutputValue& value);

// What a type's rule makes of a value.
enum class FormatOutcome : std::uint8_t {
    Text,       // the rule's text was appended
    Unchanged,  // the rule leaves the value's own text
    Rejected,   // the value cannot be given the rule's text
};

FormatOutcome rule_text(TextBuffer& out, ValueRule rule, const OutputValue& value);

// The value field of an OUTPUT record; false when the value is malformed for the rule.
bool record_value_text(TextBuffer& out, ValueRule rule, const OutputValue& value);

}  // namespace brevant
