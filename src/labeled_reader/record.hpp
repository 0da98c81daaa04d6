#pragma once
// One line as a record: its kind and its TAB-separated fields.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "schema/qir_types.hpp"
#include "schema/records.hpp"

namespace brevant::reader {

struct Field {
    std::string_view text;
    std::size_t column;  // 1-based byte offset of the field in its line
};

// The kind's text and up to three fields. The last field is the rest of the
// line, TABs included: a label or an attribute value holding a TAB is read
// back whole, since nothing after it could be another field.
struct Record {
    Field kind;
    std::array<Field, 3> fields;
    std::size_t field_count = 0;  // fields present, at most 3
};

Record split_record(std::string_view line) noexcept;

// Record kinds and QIR type names match in either letter case, as quoted
// literals in the record grammar do.
std::optional<RecordKind> record_kind(std::string_view text) noexcept;
std::optional<QirType> qir_type_named(std::string_view text) noexcept;

// ASCII letters compared without regard to case.
bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept;

}  // namespace brevant::reader
