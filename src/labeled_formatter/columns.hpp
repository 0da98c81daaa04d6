#pragma once
// Whole columns of stored values, one column per record of a shot, written as
// a labeled document with the formatter's own record writers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "labeled_formatter/output_buffer.hpp"
#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/records.hpp"
#include "labeled_formatter/value.hpp"

namespace brevant {

// How one stored element is read: native byte order, `size` bytes.
enum class ElementKind : std::uint8_t { Bool, Signed, Unsigned, Float };

struct ElementType {
    ElementKind kind;
    std::uint8_t size;
};

struct Column {
    TypeRow type;
    std::string_view tag;
    ElementType element;
    // Values a shot holds: 1, or the bits of a RESULT_ARRAY.
    std::size_t width = 1;
    // RESULT_ARRAY bits 8 to a byte, a row's first bit in the high bit of its
    // first byte (numpy.packbits along the rows, big bit order).
    bool packed = false;

    std::size_t row_bytes() const noexcept { return packed ? (width + 7) / 8 : width * element.size; }
};

// Why the column's elements cannot be written under its type, for the
// caller's error message; absent when they can.
std::optional<std::string_view> column_problem(const Column& column);

// Writes shots whose values are read from the columns' stored rows.
class ColumnWriter {
public:
    // The columns must have no column_problem.
    explicit ColumnWriter(std::span<const Column> columns);

    // Appends the shots from `first` on, each framed by START and END (the
    // document's first shot, when `header` is given, by the results header
    // and its METADATA block), and stops after the shot that takes the text
    // to `text_limit` bytes or at `end`. Returns where it stopped. `rows[i]`
    // holds column i's rows for shots 0 to `end`, row_bytes() apart.
    std::size_t emit_shots(OutputBuffer& out, std::span<const std::byte* const> rows, std::size_t first,
                           std::size_t end, const AttributeMap* header, std::size_t text_limit);

    // Whether every column is one of two records a shot (RESULT and BOOL
    // bytes): then every shot after the first is made of a few texts, the
    // pieces, one per step of the shot and pattern of its bits.
    bool pieces_only() const noexcept;

    // The pieces, numbered from 0; the first step's begin with the shot's
    // START line and the last step's end with its END line.
    std::vector<std::string> pieces() const;
    std::size_t shot_piece_count() const noexcept { return steps_.size(); }

    // For each shot from `first` to `end`, the number of each of its pieces,
    // in order; false when a shot holds a byte that is no bit (its records
    // must then be written one by one). Needs pieces_only().
    bool piece_numbers(std::span<const std::byte* const> rows, std::size_t first, std::size_t end,
                       std::uint32_t* numbers);

    // About the bytes a shot's text takes (numbers are taken at 20 digits), so
    // that a whole document's text can be reserved at once.
    std::size_t shot_size_estimate() const noexcept;

private:
    // A column of bytes whose values have one of two records (RESULT 0 and 1,
    // BOOL false and true) has both rendered once, by the formatter's record
    // writer, and copied per shot.
    struct TwoRecords {
        std::size_t offset[2];
        std::size_t size[2];
        bool nonzero_is_one;  // a bool, or a BOOL column's truth; else only 0 and 1 are values

        // The record a stored byte takes, 0 or 1; above 1 when it has none.
        unsigned record_of(std::byte stored) const noexcept {
            const auto value = std::to_integer<unsigned>(stored);
            return nonzero_is_one ? value != 0 : value;
        }
    };

    // Neighbouring two-record columns, a few at a time, with their records
    // stored concatenated for every pattern of their bits: a shot whose bits
    // in the group are all valid takes one fixed-size copy for the group.
    struct BitGroup {
        std::size_t first;        // its first column
        std::size_t count;        // its columns
        std::size_t patterns;     // offset in records_ of pattern 0; pattern k lies group_room * k further
        std::size_t blocks;       // 16-byte blocks its longest pattern takes
        unsigned nonzero_is_one;  // bit k: that of the group's column k
        std::uint8_t size[16];    // each pattern's text size
    };
    // What a shot writes next, and how: a group of columns starting at
    // `column`, a two-record column, an INT or DOUBLE column written around
    // the number's text, or any other through the formatter's record writer.
    enum class Way : std::uint8_t { Group, TwoRecords, Number, Record };
    struct Step {
        std::size_t column;
        Way way;
        std::size_t group = 0;  // in groups_
    };

    void plan_steps();
    // Patterns of the step's bits: a group's 2^count, a two-record column's 2.
    std::size_t pattern_count(const Step& step) const noexcept {
        return step.way == Way::Group ? std::size_t{1} << groups_[step.group].count : 2;
    }
    // Each group's pattern for `count` shots from `first`, into patterns_.
    void read_patterns(std::span<const std::byte* const> rows, std::size_t first, std::size_t count);
    // `patterns`: the shot's pattern in the first group; the next group's
    // lies a block further.
    void emit_shot(OutputBuffer& out, std::span<const std::byte* const> rows, std::size_t shot,
                   const std::uint8_t* patterns);

    std::span<const Column> columns_;
    std::vector<std::size_t> row_bytes_;
    std::vector<std::optional<TwoRecords>> two_records_;
    // Room for a record of each column written through a local pointer, as
    // copied, and a group's overrun.
    std::size_t shot_room_ = 0;
    std::vector<BitGroup> groups_;
    std::vector<Step> steps_;
    std::vector<std::uint8_t> patterns_;  // a block of shots' patterns, group by group
    std::string records_;
    std::vector<Scalar> scratch_;  // a RESULT_ARRAY row while it is written
};

}  // namespace brevant
