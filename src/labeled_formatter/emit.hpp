#pragma once
// OUTPUT records: which entries of a shot are user values, and what becomes
// of each value (written, counted as malformed, or dropped silently).

#include <cstring>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "labeled_formatter/copy_short.hpp"
#include "labeled_formatter/output_buffer.hpp"
#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/scalar_text.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

// Where a shot entry's record goes, read from its key "USER:<raw type>:<tag>".
struct UserEntry {
    QirType type;
    std::string_view tag;  // may be empty and may hold further colons
};

namespace detail {

// Whether `key` starts with raw type `index` and a colon. The name and its
// length are known at compile time, so the test is a few inline moves.
template <std::size_t index>
[[gnu::always_inline]] inline bool starts_with_raw_type(std::string_view key) noexcept {
    constexpr std::string_view name = raw_types[index].name;
    return key.size() > name.size() && key[name.size()] == ':' &&
           std::memcmp(key.data(), name.data(), name.size()) == 0;
}

// The index of the raw type that `key` starts with, or the table's size.
// An index rather than an entry, so that the caller builds its result once
// and it stays in registers.
template <std::size_t... index>
[[gnu::always_inline]] inline std::size_t raw_type_index(std::string_view key, std::index_sequence<index...>) noexcept {
    std::size_t found = sizeof...(index);
    ((starts_with_raw_type<index>(key) && (found = index, true)) || ...);
    return found;
}

}  // namespace detail

// Absent for keys that are not user values and for raw types without a QIR
// type: such entries are neither written nor counted.
[[gnu::always_inline]] inline std::optional<UserEntry> user_entry(std::string_view key) noexcept {
    constexpr std::string_view prefix = "USER:";
    if (!key.starts_with(prefix)) return std::nullopt;
    // The raw type ends at the first colon. Testing each known name for a
    // colon right after it finds that colon without scanning for it.
    const std::string_view rest(key.data() + prefix.size(), key.size() - prefix.size());
    const std::size_t index = detail::raw_type_index(rest, std::make_index_sequence<std::size(raw_types)>());
    if (index == std::size(raw_types)) return std::nullopt;
    const std::size_t tag_start = raw_types[index].name.size() + 1;
    return UserEntry{raw_types[index].type, {rest.data() + tag_start, rest.size() - tag_start}};
}

// Appends the value's OUTPUT record, or counts it as skipped when the value has
// no text for its type. An absent tag (or an invalid BOOL) writes nothing but
// is still counted when malformed.
void emit_value(OutputBuffer& out, QirType type, const std::string_view* tag, const OutputValue& value);

// "OUTPUT\t<QIR type>\t", the start of every record of that type, padded
// to a fixed width so that it is copied in one fixed-size move.
struct RecordPrefix {
    char text[24];
    std::size_t size;
};
inline constexpr RecordPrefix record_prefixes[] = {
    {"OUTPUT\tINT\t", 11},    {"OUTPUT\tBOOL\t", 12},  {"OUTPUT\tDOUBLE\t", 14},
    {"OUTPUT\tRESULT\t", 14}, {"OUTPUT\tARRAY\t", 13}, {"OUTPUT\tTUPLE\t", 13},
    {"OUTPUT\tRESULT_ARRAY\t", 20},
};

inline const RecordPrefix& record_prefix(QirType type) noexcept {
    return record_prefixes[static_cast<std::size_t>(type)];
}

// The common record, a tagged scalar of a type without a rule of its own,
// written in one step; everything else takes the general path.
[[gnu::always_inline]] inline void emit_tagged_scalar(OutputBuffer& out, QirType type, std::string_view tag,
                                                      Scalar scalar) {
    if (type == QirType::Bool || type == QirType::ResultArray) {
        const std::string_view tag_copy = tag;  // pointed at here only, so `tag` stays in registers
        emit_value(out, type, &tag_copy, OutputValue::of_scalar(scalar));
        return;
    }
    const RecordPrefix& prefix = record_prefix(type);
    char* const begin = out.text.reserve(sizeof prefix.text + max_scalar_text + tag.size() + 2);
    char* p = begin;
    std::memcpy(p, prefix.text, sizeof prefix.text);
    p = write_scalar_text(p + prefix.size, scalar);
    *p++ = '\t';
    p = copy_short(p, tag.data(), tag.size());
    *p++ = '\n';
    out.text.advance(p - begin);
}

}  // namespace brevant
