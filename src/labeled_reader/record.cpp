#include "labeled_reader/record.hpp"

#include <cstring>

#include "labeled_reader/next_tab.hpp"

namespace brevant::reader {
namespace {

// The common kind and type are tested first, each as one fixed-size compare
// (comparing string_views calls memcmp: 6% of reading a file of doubles).
constexpr std::string_view output_kind = kind_name(RecordKind::Output);
constexpr std::string_view result_type = qir_name(QirType::Result);

template <const std::string_view& name>
bool is(std::string_view text) noexcept {
    return text.size() == name.size() && std::memcmp(text.data(), name.data(), name.size()) == 0;
}

char upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// The exact spelling first, as writers nearly always use it; then either case.
template <class Row, std::size_t N>
const Row* find_named(const Row (&rows)[N], std::string_view text, std::string_view Row::*name) noexcept {
    for (const Row& row : rows)
        if (text == row.*name) return &row;
    for (const Row& row : rows)
        if (equal_ignoring_case(text, row.*name)) return &row;
    return nullptr;
}

Record split_record(std::string_view line) noexcept {
    Record record;
    const char* begin = line.data();
    const char* end = begin + line.size();
    const char* tab = next_tab(begin, end);
    record.kind = {std::string_view(begin, static_cast<std::size_t>(tab - begin)), 1};
    while (tab != end) {
        const char* start = tab + 1;
        bool last = record.field_count == record.fields.size() - 1;
        tab = last ? end : next_tab(start, end);
        record.fields[record.field_count++] = {std::string_view(start, static_cast<std::size_t>(tab - start)),
                                               static_cast<std::size_t>(start - begin) + 1};
    }
    return record;
}

std::optional<RecordKind> record_kind(std::string_view text) noexcept {
    if (is<output_kind>(text)) return RecordKind::Output;
    const RecordKindInfo* row = find_named(record_kinds, text, &RecordKindInfo::name);
    return row ? std::optional(row->kind) : std::nullopt;
}

std::optional<QirType> qir_type_named(std::string_view text) noexcept {
    if (is<result_type>(text)) return QirType::Result;
    const QirTypeInfo* row = find_named(qir_types, text, &QirTypeInfo::name);
    return row ? std::optional(row->type) : std::nullopt;
}

}  // namespace brevant::reader
