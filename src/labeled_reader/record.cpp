#include "labeled_reader/record.hpp"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

struct TypeName {
    QirType type;
    std::string_view qir;
    std::string_view raw;
};

constexpr TypeName type_names[] = {
    {QirType::Result, "RESULT", "RESULT"},       {QirType::Double, "DOUBLE", "FLOAT"},
    {QirType::Int, "INT", "INT"},                {QirType::Bool, "BOOL", "BOOL"},
    {QirType::ResultArray, "RESULT_ARRAY", "RESULT_ARRAY"},
    {QirType::Array, "ARRAY", "QIRARRAY"},       {QirType::Tuple, "TUPLE", "QIRTUPLE"},
};

const TypeName& row(QirType type) noexcept {
    for (const TypeName& name : type_names)
        if (name.type == type) return name;
    return type_names[0];
}

// Fields are short, so a library call per TAB costs more than the scan;
// sixteen bytes are compared at once where the target has SSE2.
const char* next_tab(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t');
    for (; end - p >= 16; p += 16) {
        auto block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, tab))) return p + __builtin_ctz(hits);
    }
#endif
    while (p != end && *p != '\t') ++p;
    return p;
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

std::optional<QirType> qir_type_named(std::string_view text) noexcept {
    if (text.size() == 6 && std::memcmp(text.data(), "RESULT", 6) == 0) return QirType::Result;
    const TypeName* row = find_named(type_names, text, &TypeName::qir);
    return row ? std::optional(row->type) : std::nullopt;
}

std::string_view qir_type_name(QirType type) noexcept { return row(type).qir; }
std::string_view raw_type_name(QirType type) noexcept { return row(type).raw; }

}  // namespace brevant::reader
