#pragma once
// The QIR types written in OUTPUT records and the caller's raw type names
// that map to them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace brevant {

enum class QirType : std::uint8_t { Int, Bool, Double, Result, Array, Tuple, ResultArray };

struct RawType {
    std::string_view name;
    QirType type;
};

// Exact and case-sensitive: "int", "DOUBLE" or "" have no QIR type. The most
// frequent raw types in real results come first.
inline constexpr RawType raw_types[] = {
    {"RESULT", QirType::Result},     {"INT", QirType::Int},          {"BOOL", QirType::Bool},
    {"FLOAT", QirType::Double},      {"UINT", QirType::Int},         {"RESULT_ARRAY", QirType::ResultArray},
    {"QIRARRAY", QirType::Array},    {"QIRTUPLE", QirType::Tuple},
};

inline std::optional<QirType> qir_type_for(std::string_view raw_type) noexcept {
    for (const RawType& raw : raw_types)
        if (raw.name == raw_type) return raw.type;
    return std::nullopt;
}

}  // namespace brevant
