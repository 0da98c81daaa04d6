#pragma once
// The QIR types written in OUTPUT records and the caller's raw type names
// that map to them.

#include <cstdint>
#include <optional>
#include <string_view>

namespace brevant {

enum class QirType : std::uint8_t { Int, Bool, Double, Result, Array, Tuple, ResultArray };

// Exact, case-sensitive: "int", "DOUBLE" or "" have no QIR type.
inline std::optional<QirType> qir_type_for(std::string_view raw_type) noexcept {
    // Dispatch on length first: most shots carry one or two raw types, and a
    // length test rejects almost every mismatch without comparing bytes.
    switch (raw_type.size()) {
        case 3:
            if (raw_type == "INT") return QirType::Int;
            break;
        case 4:
            if (raw_type == "UINT") return QirType::Int;
            if (raw_type == "BOOL") return QirType::Bool;
            break;
        case 5:
            if (raw_type == "FLOAT") return QirType::Double;
            break;
        case 6:
            if (raw_type == "RESULT") return QirType::Result;
            break;
        case 8:
            if (raw_type == "QIRARRAY") return QirType::Array;
            if (raw_type == "QIRTUPLE") return QirType::Tuple;
            break;
        case 12:
            if (raw_type == "RESULT_ARRAY") return QirType::ResultArray;
            break;
    }
    return std::nullopt;
}


}  // namespace brevant
