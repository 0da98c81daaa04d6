#pragma once
// OUTPUT records: what becomes of each user value (written, counted as
// malformed, or dropped silently).
#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "common/compiler.hpp"
#include "labeled_formatter/copy_short.hpp"
#include "labeled_formatter/output_buffer.hpp"
#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/scalar_text.hpp"
#include "labeled_formatter/value.hpp"
#include "schema/records.hpp"

namespace brevant {

// Appends the value's OUTPUT record, or counts it as skipped when the value has
// no text for its type. An invalid value that BOOL's rule gives a text is
// neither written nor counted.
void emit_value(OutputBuffer& out, TypeRow type, std::string_view tag, const OutputValue& value);

// The same for a value without a usable tag: nothing is written, but a
// malformed value is still counted.
void count_if_malformed(OutputBuffer& out, TypeRow type, const OutputValue& value);

// "OUTPUT\t<QIR type>\t", the start of every record of a row, padded to a
// fixed width so that it is copied in one fixed-size move.
struct RecordPrefix {
    char text[24];
    std::size_t size;
};

inline constexpr auto record_prefixes = [] {
    std::array<RecordPrefix, std::size(raw_types)> prefixes{};
    for (std::size_t i = 0; i < prefixes.size(); ++i) {
        RecordPrefix& prefix = prefixes[i];
        for (char c : kind_name(RecordKind::Output)) prefix.text[prefix.size++] = c;
        prefix.text[prefix.size++] = field_separator;
        for (char c : qir_name(raw_types[i].type)) prefix.text[prefix.size++] = c;
        prefix.text[prefix.size++] = field_separator;
    }
    return prefixes;
}();

static_assert(std::ranges::all_of(raw_types, [](const RawType& t) {
                  return kind_name(RecordKind::Output).size() + 2 + qir_name(t.type).size() <= sizeof(RecordPrefix::text);
              }),
              "every record prefix fits its fixed-width copy");

constexpr const RecordPrefix& record_prefix(TypeRow type) noexcept {
    return record_prefixes[static_cast<std::size_t>(type)];
}

// Room write_plain_record needs.
constexpr std::size_t plain_record_room(std::string_view tag) noexcept {
    return sizeof(RecordPrefix::text) + max_scalar_text + tag.size() + 2;
}

// The common record, a tagged scalar of a type without a rule of its own
// (the caller checks has_own_rule), written at `p` in one step; returns its end.
BREVANT_INLINE char* write_plain_record(char* p, TypeRow type, std::string_view tag, Scalar scalar) {
    const RecordPrefix& prefix = record_prefix(type);
    std::memcpy(p, prefix.text, sizeof prefix.text);
    p = write_scalar_text(p + prefix.size, scalar);
    *p++ = field_separator;
    p = copy_short(p, tag.data(), tag.size());
    *p++ = line_feed;
    return p;
}

BREVANT_INLINE void emit_plain_scalar(OutputBuffer& out, TypeRow type, std::string_view tag, Scalar scalar) {
    char* const begin = out.text.reserve(plain_record_room(tag));
    out.text.advance(write_plain_record(begin, type, tag, scalar) - begin);
}

}  // namespace brevant
