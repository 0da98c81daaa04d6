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

// One raw type, tested with its name and length known at compile time so
// that the comparison is a few inline moves rather than a call.
template <std::size_t index>
[[gnu::always_inline]] inline bool match_raw_type(std::string_view key, std::optional<UserEntry>& found) noexcept {
    constexpr RawType raw = raw_types[index];
    constexpr std::size_t size = raw.name.size();
    if (key.size() <= size || key[size] != ':' || std::memcmp(key.data(), raw.name.data(), size) != 0) return false;
    found = UserEntry{raw.type, key.substr(size + 1)};
    return true;
}

template <std::size_t... index>
[[gnu::always_inline]] inline std::optional<UserEntry> match_raw_types(std::string_view key,
                                                                        std::index_sequence<index...>) noexcept {
    std::optional<UserEntry> found;
    (match_raw_type<index>(key, found) || ...);
    return found;
}

}  // namespace detail

// Absent for keys that are not user values and for raw types without a QIR
// type: such entries are neither written nor counted.
inline std::optional<UserEntry> user_entry(std::string_view key) noexcept {
    constexpr std::string_view prefix = "USER:";
    if (!key.starts_with(prefix)) return std::nullopt;
    // The raw type ends at the first colon. Testing each known name for a
    // colon right after it finds that colon without scanning for it.
    return detail::match_raw_types(key.substr(prefix.size()), std::make_index_sequence<std::size(raw_types)>());
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
const RecordPrefix& record_prefix(QirType type) noexcept;

// The common record, a tagged scalar of a type without a rule of its own,
// written in one step; everything else takes the general path.
inline void emit_tagged_value(OutputBuffer& out, QirType type, std::string_view tag, const OutputValue& value) {
    if (value.kind != OutputValue::Kind::Scalar || type == QirType::Bool || type == QirType::ResultArray) {
        emit_value(out, type, &tag, value);
        return;
    }
    const RecordPrefix& prefix = record_prefix(type);
    char* const begin = out.text.reserve(sizeof prefix.text + max_scalar_text + tag.size() + 2);
    char* p = begin;
    std::memcpy(p, prefix.text, sizeof prefix.text);
    p = write_scalar_text(p + prefix.size, value.scalar);
    *p++ = '\t';
    p = copy_short(p, tag.data(), tag.size());
    *p++ = '\n';
    out.text.advance(p - begin);
}

}  // namespace brevant
