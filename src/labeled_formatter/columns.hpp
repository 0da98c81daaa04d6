#pragma once
// Whole columns of stored values, one column per record of a shot, written as
// a labeled document with the formatter's own record writers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "labeled_formatter/output_buffer.hpp"
#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/records.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

// How one stored element is read: native byte order, `size` bytes.
enum class ElementKind : std::uint8_t { Bool, Signed, Unsigned, Float };

struct ElementType {
    ElementKind kind;
    std::uint8_t size;
};

struct Column {
    TypeRow type;
    std::string_view tag;
    ElementType element;
    // Values a shot holds: 1, or the bits of a RESULT_ARRAY.
    std::size_t width = 1;
    // RESULT_ARRAY bits 8 to a byte, a row's first bit in the high bit of its
    // first byte (numpy.packbits along the rows, big bit order).
    bool packed = false;

    std::size_t row_bytes() const noexcept { return packed ? (width + 7) / 8 : width * element.size; }
};

// Why the column's elements cannot be written under its type, for the
// caller's error message; absent when they can.
std::optional<std::string_view> column_problem(const Column& column);

// The rows of each column for a run of shots: rows[i] holds column i's rows,
// row_bytes() apart.
struct ColumnRows {
    std::span<const Column> columns;
    std::span<const std::byte* const> rows;
};

// Appends the shots from `first` on, each framed by START and END (the
// document's first shot, when `header` is given, by the results header and
// its METADATA block), and stops after the shot that takes the text to
// `text_limit` bytes or after `end`. Returns where it stopped. `scratch`
// holds a RESULT_ARRAY row while it is written.
std::size_t emit_column_shots(OutputBuffer& out, const ColumnRows& shots, std::size_t first, std::size_t end,
                              const AttributeMap* header, std::size_t text_limit, std::vector<Scalar>& scratch);

}  // namespace brevant
