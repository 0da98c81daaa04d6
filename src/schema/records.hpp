#pragma once
// The records of a labeled document: their kinds, how a line is laid out, the
// fixed records the formatter writes and the attributes of the METADATA block.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "schema/qir_types.hpp"

namespace brevant {

enum class RecordKind : std::uint8_t { Output, Start, End, Metadata, Header };

struct RecordKindInfo {
    RecordKind kind;
    std::string_view name;
};

// In the order of RecordKind. Most frequent first: a shot is mostly OUTPUT records.
inline constexpr RecordKindInfo record_kinds[] = {
    {RecordKind::Output, "OUTPUT"},     {RecordKind::Start, "START"},   {RecordKind::End, "END"},
    {RecordKind::Metadata, "METADATA"}, {RecordKind::Header, "HEADER"},
};

constexpr std::string_view kind_name(RecordKind kind) noexcept {
    return record_kinds[static_cast<std::size_t>(kind)].name;
}

// Fields are separated by one TAB. The formatter ends a record with LF; a
// reader also takes CR and CRLF.
inline constexpr char field_separator = '\t';
inline constexpr char line_feed = '\n';
inline constexpr char carriage_return = '\r';

// The headers that say which schema, and which version of it, a document holds.
inline constexpr std::string_view schema_id_header = "schema_id";
inline constexpr std::string_view schema_version_header = "schema_version";
inline constexpr std::string_view labeled_schema = "labeled";
inline constexpr std::string_view ordered_schema = "ordered";
inline constexpr std::string_view written_version = "2.1";

// The first METADATA record of the first shot, and then one per attribute
// with the value written when the caller gives none.
inline constexpr std::string_view entry_point_key = "entry_point";

struct AttributeKey {
    std::string_view key;
    std::string_view fallback;
};

inline constexpr AttributeKey attribute_keys[] = {
    {"qir_profiles", "base_profile"},
    {"required_num_qubits", "0"},
    {"required_num_results", "0"},
};

namespace detail {
// A fixed record's text, put together at compile time in room enough for any
// of them. (Not a std::string: clang does not evaluate libstdc++'s at compile
// time, and the cores build with it too.)
struct RecordText {
    std::array<char, 96> chars{};
    std::size_t size = 0;

    constexpr RecordText& operator+=(std::string_view text) {
        for (char c : text) chars[size++] = c;
        return *this;
    }
    constexpr RecordText& operator+=(char c) {
        chars[size++] = c;
        return *this;
    }
};

constexpr RecordText record_fields(RecordKind kind, std::initializer_list<std::string_view> fields) {
    RecordText text;
    text += kind_name(kind);
    for (std::string_view field : fields) {
        text += field_separator;
        text += field;
    }
    return text;
}

constexpr RecordText record_text(RecordKind kind, std::initializer_list<std::string_view> fields) {
    return record_fields(kind, fields) += line_feed;
}

template <std::size_t N>
struct FixedText {
    std::array<char, N> chars;
    constexpr std::string_view view() const { return {chars.data(), N}; }
};

template <auto make>
consteval auto fixed_text() {
    constexpr RecordText text = make();
    FixedText<text.size> out{};
    for (std::size_t i = 0; i < text.size; ++i) out.chars[i] = text.chars[i];
    return out;
}

inline constexpr auto results_header = fixed_text<[] {
    RecordText text = record_text(RecordKind::Header, {schema_id_header, labeled_schema});
    const RecordText version = record_text(RecordKind::Header, {schema_version_header, written_version});
    return text += std::string_view(version.chars.data(), version.size);
}>();
inline constexpr auto shot_start = fixed_text<[] { return record_text(RecordKind::Start, {}); }>();
inline constexpr auto shot_end = fixed_text<[] { return record_text(RecordKind::End, {"0"}); }>();
inline constexpr auto entry_point = fixed_text<[] { return record_text(RecordKind::Metadata, {entry_point_key}); }>();
}  // namespace detail

// "OUTPUT\t<QIR type>\t", up to a record's value.
template <QirType type>
inline constexpr auto output_prefix =
    detail::fixed_text<[] { return detail::record_fields(RecordKind::Output, {qir_name(type), ""}); }>();

// "HEADER\tschema_id\tlabeled\nHEADER\tschema_version\t2.1\n"
inline constexpr std::string_view results_header_text = detail::results_header.view();
inline constexpr std::string_view shot_start_text = detail::shot_start.view();  // "START\n"
inline constexpr std::string_view shot_end_text = detail::shot_end.view();      // "END\t0\n"
inline constexpr std::string_view entry_point_text = detail::entry_point.view();  // "METADATA\tentry_point\n"

}  // namespace brevant
