#pragma once
// What a read document holds: interned labels, every shot's OUTPUT records as
// flat entries in document order (a container is an entry holding its element
// count, followed by its elements), and the shot framing around them. Python
// objects are made from this only when asked for, in bulk, through ShotCursor.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
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
    BigInt,     // an integer beyond 64 bits: `size` chars of text from `offset` in Document::bits
};

// One record. Kept to 16 bytes: a document holds one per OUTPUT record, and
// writing them out is most of what reading costs. Only the reader and
// ShotCursor know this layout.
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

// An Entry holds its column in 24 bits: the labels one document may hold at
// once. A streaming reader forgets the labels of the shots it handed out.
inline constexpr std::uint32_t max_document_labels = std::uint32_t{1} << 24;
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
    // Its records carry the labels of the previous completed shot's records,
    // in the same order: whatever was decided from the labels of that shot
    // holds for this one.
    bool same_labels_as_previous;
};

inline constexpr std::uint64_t packed_bits_max = 64;

struct Document {
    std::vector<Column> columns;
    std::vector<Entry, HugePageAllocator<Entry>> entries;
    std::vector<Scalar> list_items;
    std::string bits;  // RESULT_ARRAY bits and the digits of big integers
    std::string outcome_text;
    std::vector<Shot> shots;
    // Changes whenever `columns` is renumbered (a streaming reader forgets the
    // labels of shots it handed out), so that caches keyed by column can tell.
    std::uint64_t columns_epoch = 0;

    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, std::optional<std::string>>> attributes;
    std::optional<std::string> labeling_schema;  // from a METADATA record
    bool saw_tagged_output = false;
    bool saw_untagged_output = false;
};

// One OUTPUT record of a read shot, as ShotCursor presents it.
struct OutputEntry {
    enum class Kind : std::uint8_t { Scalar, BigInt, List, Bits, Container };
    Kind kind;
    std::uint32_t column;              // into Document::columns
    Scalar scalar;                     // Kind::Scalar
    std::string_view text;             // Kind::Bits ('0'/'1' chars), Kind::BigInt (decimal digits)
    std::span<const Scalar> items;     // Kind::List
    std::uint32_t count;               // Kind::Container: its elements are the next `count` entries
};

// Walks one shot's records in order.
class ShotCursor {
public:
    ShotCursor(const Document& doc, const Shot& shot) noexcept
        : doc_(doc), at_(doc.entries.data() + shot.first_entry), end_(at_ + shot.entry_count) {}

    bool done() const noexcept { return at_ == end_; }
    std::size_t remaining() const noexcept { return static_cast<std::size_t>(end_ - at_); }

    OutputEntry next() noexcept {
        const Entry& e = *at_++;
        OutputEntry out{OutputEntry::Kind::Scalar, e.column, {}, {}, {}, 0};
        switch (e.kind()) {
            case EntryKind::Bool:
            case EntryKind::Int:
            case EntryKind::Float: out.scalar = e.scalar(); break;
            case EntryKind::List:
                out.kind = OutputEntry::Kind::List;
                out.items = std::span<const Scalar>(doc_.list_items.data() + e.offset, e.size);
                break;
            case EntryKind::Bits:
            case EntryKind::BigInt:
                out.kind = e.kind() == EntryKind::Bits ? OutputEntry::Kind::Bits : OutputEntry::Kind::BigInt;
                out.text = std::string_view(doc_.bits.data() + e.offset, e.size);
                break;
            case EntryKind::Container:
                out.kind = OutputEntry::Kind::Container;
                out.count = e.size;
                break;
        }
        return out;
    }

private:
    const Document& doc_;
    const Entry* at_;
    const Entry* end_;
};

}  // namespace brevant::reader
