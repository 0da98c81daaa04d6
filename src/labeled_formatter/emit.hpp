#pragma once
// OUTPUT records: which entries of a shot are user values, and what becomes
// of each value (written, counted as malformed, or dropped silently).

#include <optional>
#include <string_view>

#include <cstring>

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

// Absent for keys that are not user values and for raw types without a QIR
// type: such entries are neither written nor counted.
inline std::optional<UserEntry> user_entry(std::string_view key) noexcept {
    constexpr std::string_view prefix = "USER:";
    if (!key.starts_with(prefix)) return std::nullopt;
    key.remove_prefix(prefix.size());
    std::size_t colon = key.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::optional<QirType> type = qir_type_for(key.substr(0, colon));
    if (!type) return std::nullopt;
    return UserEntry{*type, key.substr(colon + 1)};
}

// Appends the value's OUTPUT record, or counts it as skipped when the value has
// no text for its type. An absent tag (or an invalid BOOL) writes nothing but
// is still counted when malformed.
void emit_value(OutputBuffer& out, QirType type, const std::string_view* tag, const OutputValue& value);

// "OUTPUT\t<QIR type>\t", the start of every record of that type.
std::string_view record_prefix(QirType type) noexcept;

// The common record, a tagged scalar of a type without a rule of its own,
// written in one step; everything else takes the general path.
inline void emit_tagged_value(OutputBuffer& out, QirType type, std::string_view tag, const OutputValue& value) {
    if (value.kind != OutputValue::Kind::Scalar || type == QirType::Bool || type == QirType::ResultArray) {
        emit_value(out, type, &tag, value);
        return;
    }
    std::string_view prefix = record_prefix(type);
    char* const begin = out.text.reserve(prefix.size() + max_scalar_text + tag.size() + 2);
    char* p = begin;
    std::memcpy(p, prefix.data(), prefix.size());
    p = write_scalar_text(p + prefix.size(), value.scalar);
    *p++ = '\t';
    std::memcpy(p, tag.data(), tag.size());
    p += tag.size();
    *p++ = '\n';
    out.text.advance(p - begin);
}

}  // namespace brevant
