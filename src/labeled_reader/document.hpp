#pragma once
// What a read document holds: interned labels, every shot's entries as flat
// records in document order, and the shot framing around them. Python
// objects are made from this only when asked for, in bulk.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "labeled_reader/huge_pages.hpp"
#include "schema/qir_types.hpp"
#include "schema/scalar.hpp"

namespace brevant::reader {

// A label is a QIR type and a tag; records of the ordered schema have none.
struct Column {
    QirType type;
    bool tagged;
    std::string tag;
};

enum class EntryKind : std::uint8_t {
    Bool,       // `boolean`
    Int,        // `integer`
    Float,      // `real`
    List,       // a "[a, b]" value: `size` scalars from `offset` in Document::list_items
    Bits,       // a RESULT_ARRAY: `size` '0'/'1' chars from `offset` in Document::bits
    Container,  // an ARRAY or TUPLE count: its `size` elements are the entries that follow
};

// One record. Kept to 16 bytes: a document holds one per OUTPUT record, and
// writing them out is most of what reading costs.
struct Entry {
    std::uint32_t column : 24;
    std::uint32_t kind_bits : 8;
    std::uint32_t size;
    union {
        bool boolean;
        std::int64_t integer;
        double real;
        std::uint64_t offset;
    };

    EntryKind kind() const noexcept { return static_cast<EntryKind>(kind_bits); }
    bool is_scalar() const noexcept { return kind() <= EntryKind::Float; }
    Scalar scalar() const noexcept {
        Scalar s;
        s.kind = static_cast<Scalar::Kind>(kind_bits);
        s.integer = integer;
        return s;
    }
};
static_assert(sizeof(Entry) == 16);
static_assert(static_cast<int>(EntryKind::Bool) == static_cast<int>(Scalar::Kind::Bool) &&
              static_cast<int>(EntryKind::Int) == static_cast<int>(Scalar::Kind::Int) &&
              static_cast<int>(EntryKind::Float) == static_cast<int>(Scalar::Kind::Float));

inline Entry entry_of(EntryKind kind, std::uint32_t size, std::uint64_t offset) noexcept {
    Entry e{};
    e.kind_bits = static_cast<std::uint32_t>(kind);
    e.size = size;
    e.offset = offset;
    return e;
}

inline Entry entry_of(const Scalar& scalar) noexcept {
    Entry e{};
    e.kind_bits = static_cast<std::uint32_t>(scalar.kind);
    e.integer = scalar.integer;
    return e;
}

struct Shot {
    std::size_t first_entry;
    std::size_t entry_count;
    std::int64_t exit_code;
    std::uint64_t line;  // of its START record
    // Its measured bits in record order, first record first: packed into
    // `packed` (first bit most significant) when there are at most 64,
    // else held as text from `bits_offset` in Document::outcome_text.
    std::uint64_t packed;
    std::uint64_t bit_count;
    std::size_t bits_offset;
    // The line of a RESULT value that is not a bit, 0 when all are bits.
    std::uint64_t non_bit_line;
};

inline constexpr std::uint64_t packed_bits_max = 64;

struct Document {
    std::vector<Column> columns;
    std::vector<Entry, HugePageAllocator<Entry>> entries;
    std::vector<Scalar> list_items;
    std::string bits;
    std::string outcome_text;
    std::vector<Shot> shots;

    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, std::optional<std::string>>> attributes;
    std::optional<std::string> labeling_schema;  // from a METADATA record
    bool saw_tagged_output = false;
    bool saw_untagged_output = false;
};

}  // namespace brevant::reader
