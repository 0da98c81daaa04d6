#pragma once
// The caller's raw type names, the QIR type each is written as, and the rule
// that QIR type applies to a value. Everything that depends on a type (key
// parsing, record prefixes, the scalar fast path, format_value) reads this
// one table; adding a type is one row, plus its rule if it has a new one.
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

struct RawType {
    std::string_view raw_name;
    std::string_view qir_name;
    ValueRule rule;
};

// Exact and case-sensitive: "int", "DOUBLE" or "" have no QIR type. The most
// frequent raw types in real results come first, since keys are matched in
// this order.
inline constexpr RawType raw_types[] = {
    {"RESULT", "RESULT", ValueRule::Plain},
    {"INT", "INT", ValueRule::Plain},
    {"BOOL", "BOOL", ValueRule::Truth},
    {"FLOAT", "DOUBLE", ValueRule::Plain},
    {"UINT", "INT", ValueRule::Plain},
    {"RESULT_ARRAY", "RESULT_ARRAY", ValueRule::Bits},
    {"QIRARRAY", "ARRAY", ValueRule::Plain},
    {"QIRTUPLE", "TUPLE", ValueRule::Plain},
};

// A row of raw_types, by position: what a key or an `ftype` argument names.
enum class TypeRow : std::uint8_t {};

constexpr const RawType& row(TypeRow type) noexcept { return raw_types[static_cast<std::size_t>(type)]; }

static_assert(std::size(raw_types) <= 32, "TypeRow and rows_with_own_rule hold a row number in 5 bits");
static_assert(std::ranges::none_of(raw_types, [](const RawType& t) {
                  return t.raw_name.empty() || t.raw_name.find(':') != std::string_view::npos;
              }),
              "a key's raw type ends at its first colon");
// format_value names a QIR type, so each QIR type must have one rule.
static_assert(std::ranges::all_of(raw_types, [](const RawType& a) {
    return std::ranges::all_of(raw_types,
                               [&](const RawType& b) { return a.qir_name != b.qir_name || a.rule == b.rule; });
}));

inline std::optional<TypeRow> type_row(std::string_view raw_name) noexcept {
    for (std::size_t i = 0; i < std::size(raw_types); ++i)
        if (raw_types[i].raw_name == raw_name) return TypeRow(i);
    return std::nullopt;
}

// The rule of a QIR type given by name, compared exactly as a whole; a name
// that is not a QIR type has no rule of its own.
inline ValueRule rule_of_qir_type(std::string_view qir_name) noexcept {
    for (const RawType& type : raw_types)
        if (type.qir_name == qir_name) return type.rule;
    return ValueRule::Plain;
}

// Bit i is set when row i has a rule of its own, so that the scalar fast path
// tests one bit to know it must step aside.
inline constexpr std::uint32_t rows_with_own_rule = [] {
    std::uint32_t rows = 0;
    for (std::size_t i = 0; i < std::size(raw_types); ++i)
        if (raw_types[i].rule != ValueRule::Plain) rows |= std::uint32_t{1} << i;
    return rows;
}();

constexpr bool has_own_rule(TypeRow type) noexcept {
    return (rows_with_own_rule >> static_cast<std::size_t>(type)) & 1;
}

}  // namespace brevant
