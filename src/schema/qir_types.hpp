#pragma once
// The QIR types an OUTPUT record carries, the rule each applies to a value,
// and the formatter's raw type names for them. Everything that depends on a
// type (the formatter's keys and record prefixes, the reader's records, the
// names Python shows) reads these tables; adding a type is one row in each.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace brevant {

enum class ValueRule : std::uint8_t {
    Plain,  // the value's own text
    Truth,  // "true" or "false", from the value's truth
    Bits,   // a list of 0s and 1s as one bit string; anything else is malformed
};

enum class QirType : std::uint8_t { Result, Double, Int, Bool, ResultArray, Array, Tuple };

struct QirTypeInfo {
    QirType type;
    std::string_view name;
    ValueRule rule;
};

// In the order of QirType. Most frequent first: records are matched in this order.
inline constexpr QirTypeInfo qir_types[] = {
    {QirType::Result, "RESULT", ValueRule::Plain},
    {QirType::Double, "DOUBLE", ValueRule::Plain},
    {QirType::Int, "INT", ValueRule::Plain},
    {QirType::Bool, "BOOL", ValueRule::Truth},
    {QirType::ResultArray, "RESULT_ARRAY", ValueRule::Bits},
    {QirType::Array, "ARRAY", ValueRule::Plain},
    {QirType::Tuple, "TUPLE", ValueRule::Plain},
};

static_assert([] {
    for (std::size_t i = 0; i < std::size(qir_types); ++i)
        if (static_cast<std::size_t>(qir_types[i].type) != i) return false;
    return true;
}(), "qir_types is indexed by QirType");

constexpr const QirTypeInfo& info(QirType type) noexcept { return qir_types[static_cast<std::size_t>(type)]; }
constexpr std::string_view qir_name(QirType type) noexcept { return info(type).name; }

// The QIR type named exactly, as a whole.
constexpr std::optional<QirType> qir_type_exactly(std::string_view name) noexcept {
    for (const QirTypeInfo& type : qir_types)
        if (type.name == name) return type.type;
    return std::nullopt;
}

// The formatter's input names a value's type by a raw name, in a key
// "USER:<raw name>:<tag>". Exact and case-sensitive: "int", "DOUBLE" or ""
// name no type. The most frequent raw types in real results come first,
// since keys are matched in this order.
struct RawType {
    std::string_view raw_name;
    QirType type;
};

inline constexpr RawType raw_types[] = {
    {qir_name(QirType::Result), QirType::Result},
    {qir_name(QirType::Int), QirType::Int},
    {qir_name(QirType::Bool), QirType::Bool},
    {"FLOAT", QirType::Double},
    {"UINT", QirType::Int},
    {qir_name(QirType::ResultArray), QirType::ResultArray},
    {"QIRARRAY", QirType::Array},
    {"QIRTUPLE", QirType::Tuple},
};

inline constexpr std::string_view user_key_prefix = "USER:";

static_assert(std::ranges::none_of(raw_types, [](const RawType& t) {
                  return t.raw_name.empty() || t.raw_name.find(':') != std::string_view::npos;
              }),
              "a key's raw type ends at its first colon");

// The raw name the formatter is given for a type when it writes one back:
// the first row of that type ("FLOAT" for DOUBLE, "INT" for INT).
constexpr std::string_view raw_name(QirType type) noexcept {
    for (const RawType& raw : raw_types)
        if (raw.type == type) return raw.raw_name;
    return {};
}

static_assert(std::ranges::all_of(qir_types, [](const QirTypeInfo& t) { return !raw_name(t.type).empty(); }),
              "the formatter can write every QIR type");

}  // namespace brevant
