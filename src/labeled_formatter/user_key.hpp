#pragma once
// Which entries of a shot are user values: a key "USER:<raw type>:<tag>".
#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "common/compiler.hpp"
#include "labeled_formatter/qir_type.hpp"

namespace brevant {

// Where a shot entry's record goes.
struct UserEntry {
    TypeRow type;
    std::string_view tag;  // may be empty and may hold further colons
};

namespace detail {

// Whether `key` starts with the raw type of row `index` and a colon. The name
// and its length are known at compile time, so the test is a few inline moves.
template <std::size_t index>
BREVANT_INLINE bool starts_with_raw_type(std::string_view key) noexcept {
    constexpr std::string_view name = raw_types[index].raw_name;
    return key.size() > name.size() && key[name.size()] == ':' &&
           std::memcmp(key.data(), name.data(), name.size()) == 0;
}

// The row of the raw type that `key` starts with, or the table's size. A row
// number rather than an entry, so that the caller builds its result once and
// it stays in registers.
template <std::size_t... index>
BREVANT_INLINE std::size_t raw_type_index(std::string_view key, std::index_sequence<index...>) noexcept {
    std::size_t found = sizeof...(index);
    ((starts_with_raw_type<index>(key) && (found = index, true)) || ...);
    return found;
}

}  // namespace detail

// Absent for keys that are not user values and for raw types without a QIR
// type: such entries are neither written nor counted.
BREVANT_INLINE std::optional<UserEntry> user_entry(std::string_view key) noexcept {
    constexpr std::string_view prefix = user_key_prefix;
    if (!key.starts_with(prefix)) return std::nullopt;
    // The raw type ends at the first colon. Testing each known name for a
    // colon right after it finds that colon without scanning for it.
    const std::string_view rest(key.data() + prefix.size(), key.size() - prefix.size());
    const std::size_t index = detail::raw_type_index(rest, std::make_index_sequence<std::size(raw_types)>());
    if (index == std::size(raw_types)) return std::nullopt;
    const std::size_t tag_start = raw_types[index].raw_name.size() + 1;
    return UserEntry{TypeRow(index), {rest.data() + tag_start, rest.size() - tag_start}};
}

}  // namespace brevant
