#include "labeled_reader/record.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brevant::reader {
namespace {

char upper(char c) noexcept { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Fields are short, so a library call per TAB costs more than the scan;
// sixteen bytes are compared at once where the target has SSE2.
const char* next_tab(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8(field_separator);
    for (; end - p >= 16; p += 16) {
        auto block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, tab))) return p + __builtin_ctz(hits);
    }
#endif
    while (p != end && *p != field_separator) ++p;
    return p;
}

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

// The common kind and type are tested first, by a compare the compiler sees whole.
std::optional<RecordKind> record_kind(std::string_view text) noexcept {
    if (text == kind_name(RecordKind::Output)) return RecordKind::Output;
    const RecordKindInfo* row = find_named(record_kinds, text, &RecordKindInfo::name);
    return row ? std::optional(row->kind) : std::nullopt;
}

std::optional<QirType> qir_type_named(std::string_view text) noexcept {
    if (text == qir_name(QirType::Result)) return QirType::Result;
    const QirTypeInfo* row = find_named(qir_types, text, &QirTypeInfo::name);
    return row ? std::optional(row->type) : std::nullopt;
}

}  // namespace brevant::reader
