#include "labeled_reader/record.hpp"

#include <cstring>

#include "labeled_reader/next_tab.hpp"

namespace brevant::reader {
namespace {

struct KindName {
    std::string_view name;
    RecordKind kind;
};

// Most frequent first: a shot is mostly OUTPUT records.
constexpr KindName kind_names[] = {
    {"OUTPUT", RecordKind::Output}, {"START", RecordKind::Start},   {"END", RecordKind::End},
    {"METADATA", RecordKind::Metadata}, {"HEADER", RecordKind::Header},
};

const QirTypeName& row(QirType type) noexcept {
    for (const QirTypeName& name : qir_type_names)
        if (name.type == type) return name;
    return qir_type_names[0];
}

}  // namespace

bool equal_ignoring_case(std::string_view text, std::string_view upper) noexcept {
    if (text.size() != upper.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i]) return false;
    }
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
    if (text.size() == 6 && std::memcmp(text.data(), "OUTPUT", 6) == 0) return RecordKind::Output;
    const KindName* row = find_named(kind_names, text, &KindName::name);
    return row ? std::optional(row->kind) : std::nullopt;
}

std::string_view record_kind_name(RecordKind kind) noexcept {
    for (const KindName& row : kind_names)
        if (row.kind == kind) return row.name;
    return {};
}

std::optional<QirType> qir_type_named(std::string_view text) noexcept {
    if (text.size() == 6 && std::memcmp(text.data(), "RESULT", 6) == 0) return QirType::Result;
    const QirTypeName* row = find_named(qir_type_names, text, &QirTypeName::qir);
    return row ? std::optional(row->type) : std::nullopt;
}

std::string_view qir_type_name(QirType type) noexcept { return row(type).qir; }
std::string_view raw_type_name(QirType type) noexcept { return row(type).raw; }

}  // namespace brevant::reader
