#pragma once
// Value fields as numbers. A value keeps the type its spelling shows, so that
// the formatter writes it back unchanged: "True" is a bool, "3" an int and
// "3.0" a float, whatever the record's type. Spellings only other writers use
// ("true", "NaN", "-INFINITY", "1e+300", "+5") read as what they mean.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "labeled_reader/document.hpp"

namespace brevant::reader {

// Where a value sits. In a DOUBLE record "-0" is the float -0.0 and an
// integer beyond 64 bits is a float; elsewhere that integer is no Scalar
// (see is_integer_text).
enum class Within : std::uint8_t { Other, DoubleRecord };

std::optional<Scalar> parse_scalar(std::string_view text, Within within) noexcept;

// An optional sign and decimal digits: an integer of any length.
bool is_integer_text(std::string_view text) noexcept;

// "[a, b, ...]" (the formatter's list form); appends the items to `out`.
// Returns false, with `out` unchanged, when the text is not such a list.
bool parse_list(std::string_view text, std::vector<Scalar>& out);

// A container's element count, when `text` is decimal digits only: the
// count, or UINT64_MAX for one beyond 64 bits.
std::optional<std::uint64_t> parse_count(std::string_view text) noexcept;

}  // namespace brevant::reader
