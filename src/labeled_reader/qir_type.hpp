#pragma once
// The QIR types a record can carry. Shots read back are in the formatter's
// input form, so each type also names the raw type the formatter writes as
// it, taken from the formatter's own table: "FLOAT" for DOUBLE, and for INT
// the first of "INT" and "UINT".

#include <cstdint>
#include <string_view>

#include "labeled_formatter/qir_type.hpp"

namespace brevant::reader {

enum class QirType : std::uint8_t { Result, Double, Int, Bool, ResultArray, Array, Tuple };

consteval std::string_view raw_name_of(std::string_view qir_name) {
    for (const RawType& type : raw_types)
        if (type.qir_name == qir_name) return type.raw_name;
    throw "the formatter writes no raw type as this QIR type";
}

struct QirTypeName {
    QirType type;
    std::string_view qir;
    std::string_view raw;
};

// Most frequent first: records are matched in this order.
inline constexpr QirTypeName qir_type_names[] = {
    {QirType::Result, "RESULT", raw_name_of("RESULT")},
    {QirType::Double, "DOUBLE", raw_name_of("DOUBLE")},
    {QirType::Int, "INT", raw_name_of("INT")},
    {QirType::Bool, "BOOL", raw_name_of("BOOL")},
    {QirType::ResultArray, "RESULT_ARRAY", raw_name_of("RESULT_ARRAY")},
    {QirType::Array, "ARRAY", raw_name_of("ARRAY")},
    {QirType::Tuple, "TUPLE", raw_name_of("TUPLE")},
};

}  // namespace brevant::reader
