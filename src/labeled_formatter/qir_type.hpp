#pragma once
// The QIR types written in OUTPUT records and the caller's raw type names
// that map to them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace brevant {

enum class QirType : std::uint8_t { Int, Bool, Double, Result, Array, Tuple, ResultArray };

std::string_view qir_type_name(QirType type) noexcept;

// Exact, case-sensitive: "int", "DOUBLE" or "" have no QIR type.
std::optional<QirType> qir_type_for(std::string_view raw_type) noexcept;

}  // namespace brevant
