#pragma once
// OUTPUT records: which entries of a shot are user values, and what becomes
// of each value (written, counted as malformed, or dropped silently).

#include <optional>
#include <string_view>

#include "labeled_formatter/output_buffer.hpp"
#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

// Where a shot entry's record goes, read from its key "USER:<raw type>:<tag>".
struct UserEntry {
    QirType type;
    std::string_view tag;  // may be empty and may hold further colons
};

// Absent for keys that are not user values and for raw types without a QIR
// type: such entries are neither written nor counted.
std::optional<UserEntry> user_entry(std::string_view key) noexcept;

// Appends the value's OUTPUT record, or counts it as skipped when the value has
// no text for its type. An absent tag (or an invalid BOOL) writes nothing but
// is still counted when malformed.
void emit_value(OutputBuffer& out, QirType type, const std::string_view* tag, const OutputValue& value);

}  // namespace brevant
