#pragma once
// The raw-name table as the formatter walks it: a key or an `ftype` argument
// names a row, and the row gives the QIR type written and its rule.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "schema/qir_types.hpp"

namespace brevant {

// A row of raw_types, by position: what a key or an `ftype` argument names.
enum class TypeRow : std::uint8_t {};

constexpr const RawType& row(TypeRow type) noexcept { return raw_types[static_cast<std::size_t>(type)]; }

// Each row's rule, looked up once per record.
inline constexpr auto row_rules = [] {
    std::array<ValueRule, std::size(raw_types)> rules{};
    for (std::size_t i = 0; i < rules.size(); ++i) rules[i] = info(raw_types[i].type).rule;
    return rules;
}();

constexpr ValueRule rule(TypeRow type) noexcept { return row_rules[static_cast<std::size_t>(type)]; }

static_assert(std::size(raw_types) <= 32, "TypeRow and rows_with_own_rule hold a row number in 5 bits");

inline std::optional<TypeRow> type_row(std::string_view raw_name) noexcept {
    for (std::size_t i = 0; i < std::size(raw_types); ++i)
        if (raw_types[i].raw_name == raw_name) return TypeRow(i);
    return std::nullopt;
}

// The rule of a QIR type given by name, compared exactly as a whole; a name
// that is not a QIR type has no rule of its own.
inline ValueRule rule_of_qir_type(std::string_view name) noexcept {
    const std::optional<QirType> type = qir_type_exactly(name);
    return type ? info(*type).rule : ValueRule::Plain;
}

// Bit i is set when row i has a rule of its own, so that the scalar fast path
// tests one bit to know it must step aside.
inline constexpr std::uint32_t rows_with_own_rule = [] {
    std::uint32_t rows = 0;
    for (std::size_t i = 0; i < std::size(raw_types); ++i)
        if (rule(TypeRow(i)) != ValueRule::Plain) rows |= std::uint32_t{1} << i;
    return rows;
}();

constexpr bool has_own_rule(TypeRow type) noexcept {
    return (rows_with_own_rule >> static_cast<std::size_t>(type)) & 1;
}

}  // namespace brevant
