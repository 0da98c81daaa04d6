#include "labeled_formatter/columns.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "labeled_formatter/emit.hpp"

namespace brevant {
namespace {

constexpr QirType qir_type_of(TypeRow type) noexcept { return row(type).type; }

// Room every stored record is padded to (most are 17 to 30 bytes).
constexpr std::size_t record_room = 32;
// Columns a group of bit records takes at most, and the room each of its
// patterns is padded to: four records of up to 32 bytes in one fixed move.
constexpr std::size_t max_group_columns = 4;
constexpr std::size_t group_room = 128;
// Shots whose bit patterns are read ahead at a time, and the pattern's flag
// for a group holding a byte that is no bit.
constexpr std::size_t block_shots = 256;
constexpr unsigned malformed = 0x80;

bool is_byte_wide(ElementType e) { return e.size == 1 && e.kind != ElementKind::Float; }

template <class T>
T load(const std::byte* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// The value the formatter is given for the element by the Python object that
// numpy's tolist() makes of it: a bool, an int (invalid beyond int64, as such
// an int is for the formatter) or a float.
BREVANT_INLINE OutputValue element_value(ElementType element, const std::byte* p) noexcept {
    switch (element.kind) {
        case ElementKind::Bool:
            return OutputValue::of_scalar(Scalar::from_bool(*p != std::byte{0}));
        case ElementKind::Signed:
            switch (element.size) {
                case 1: return OutputValue::of_scalar(Scalar::from_int(load<std::int8_t>(p)));
                case 2: return OutputValue::of_scalar(Scalar::from_int(load<std::int16_t>(p)));
                case 4: return OutputValue::of_scalar(Scalar::from_int(load<std::int32_t>(p)));
                default: return OutputValue::of_scalar(Scalar::from_int(load<std::int64_t>(p)));
            }
        case ElementKind::Unsigned: {
            std::uint64_t value;
            switch (element.size) {
                case 1: value = load<std::uint8_t>(p); break;
                case 2: value = load<std::uint16_t>(p); break;
                case 4: value = load<std::uint32_t>(p); break;
                default: value = load<std::uint64_t>(p); break;
            }
            if (value > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return OutputValue::invalid();
            return OutputValue::of_scalar(Scalar::from_int(std::int64_t(value)));
        }
        case ElementKind::Float:
            return OutputValue::of_scalar(
                Scalar::from_double(element.size == 4 ? double(load<float>(p)) : load<double>(p)));
    }
    return OutputValue::invalid();
}

// `blocks` 16-byte blocks, each a fixed-size move.
BREVANT_INLINE void copy_blocks(char* to, const char* from, std::size_t blocks) {
    switch (blocks) {
        case 8: std::memcpy(to + 112, from + 112, 16); [[fallthrough]];
        case 7: std::memcpy(to + 96, from + 96, 16); [[fallthrough]];
        case 6: std::memcpy(to + 80, from + 80, 16); [[fallthrough]];
        case 5: std::memcpy(to + 64, from + 64, 16); [[fallthrough]];
        case 4: std::memcpy(to + 48, from + 48, 16); [[fallthrough]];
        case 3: std::memcpy(to + 32, from + 32, 16); [[fallthrough]];
        case 2: std::memcpy(to + 16, from + 16, 16); [[fallthrough]];
        default: std::memcpy(to, from, 16);
    }
}

void emit_scalar(OutputBuffer& out, const Column& column, const std::byte* p) {
    const OutputValue value = element_value(column.element, p);
    if (value.kind == OutputValue::Kind::Scalar && !has_own_rule(column.type))
        emit_plain_scalar(out, column.type, column.tag, value.scalar);
    else
        emit_value(out, column.type, column.tag, value);
}

void emit_bit_row(OutputBuffer& out, const Column& column, const std::byte* p, std::vector<Scalar>& scratch) {
    scratch.clear();
    for (std::size_t j = 0; j < column.width; ++j) {
        if (column.packed) {
            const unsigned bit = (std::to_integer<unsigned>(p[j / 8]) >> (7 - j % 8)) & 1;
            scratch.push_back(Scalar::from_int(bit));
        } else {
            scratch.push_back(element_value(column.element, p + j).scalar);
        }
    }
    emit_value(out, column.type, column.tag, OutputValue::of_list(scratch));
}

}  // namespace

std::optional<std::string_view> column_problem(const Column& column) {
    const ElementType e = column.element;
    if (column.packed) {
        if (qir_type_of(column.type) != QirType::ResultArray) return "only RESULT_ARRAY takes packed bits";
        if (e.kind != ElementKind::Unsigned || e.size != 1) return "packed bits must be uint8";
        return std::nullopt;
    }
    switch (qir_type_of(column.type)) {
        case QirType::Result:
        case QirType::Bool:
        case QirType::ResultArray:
            if (!is_byte_wide(e)) return "takes bool, uint8 or int8 elements";
            break;
        case QirType::Int:
            if (e.kind != ElementKind::Signed && e.kind != ElementKind::Unsigned) return "takes integer elements";
            break;
        case QirType::Double:
            if (e.kind != ElementKind::Float) return "takes float64 or float32 elements";
            break;
        case QirType::Array:
        case QirType::Tuple:
            return "is not a column type (RESULT, BOOL, INT, UINT, FLOAT or RESULT_ARRAY)";
    }
    return std::nullopt;
}

ColumnWriter::ColumnWriter(std::span<const Column> columns) : columns_(columns) {
    for (const Column& column : columns) {
        row_bytes_.push_back(column.row_bytes());
        const bool result = qir_type_of(column.type) == QirType::Result;
        if ((!result && qir_type_of(column.type) != QirType::Bool) || !is_byte_wide(column.element)) {
            two_records_.emplace_back();
            continue;
        }
        TwoRecords two;
        // A RESULT column holds measured bits, 0 or 1, whether stored as bools
        // or as bytes; any other value is malformed. (The formatter's own
        // RESULT records take any scalar: a column has a dtype to say what it
        // holds, a single value does not.)
        two.nonzero_is_one = !result || column.element.kind == ElementKind::Bool;
        for (int bit = 0; bit < 2; ++bit) {
            OutputBuffer record;
            emit_value(record, column.type, column.tag, OutputValue::of_scalar(Scalar::from_int(bit)));
            two.offset[bit] = records_.size();
            two.size[bit] = record.text.size();
            records_.append(record.text.view());
            records_.resize(records_.size() + record_room - std::min(record_room, record.text.size()));
        }
        shot_room_ += std::max({record_room, two.size[0], two.size[1]});
        two_records_.push_back(two);
    }
    plan_steps();
}

void ColumnWriter::plan_steps() {
    static_assert(std::size(BitGroup{}.size) == std::size_t{1} << max_group_columns);
    for (std::size_t i = 0; i < columns_.size();) {
        BitGroup group{};
        group.first = i;
        group.patterns = records_.size();
        std::size_t room = 0;
        for (; group.count < max_group_columns && i + group.count < columns_.size(); ++group.count) {
            const std::optional<TwoRecords>& two = two_records_[i + group.count];
            if (!two || (room += std::max(two->size[0], two->size[1])) > group_room) break;
            group.nonzero_is_one |= unsigned{two->nonzero_is_one} << group.count;
        }
        if (group.count < 2) {
            const Column& column = columns_[i];
            if (two_records_[i]) {
                steps_.push_back({i, Way::TwoRecords});
            } else if (qir_type_of(column.type) != QirType::ResultArray && !has_own_rule(column.type)) {
                steps_.push_back({i, Way::Number});
                shot_room_ += plain_record_room(column.tag);
            } else {
                steps_.push_back({i, Way::Record});
            }
            ++i;
            continue;
        }
        std::string text;
        for (std::size_t pattern = 0; pattern < (std::size_t{1} << group.count); ++pattern) {
            text.clear();
            for (std::size_t k = 0; k < group.count; ++k) {
                const TwoRecords& two = *two_records_[i + k];
                const unsigned bit = (pattern >> k) & 1;
                text.append(records_, two.offset[bit], two.size[bit]);
            }
            group.size[pattern] = static_cast<std::uint8_t>(text.size());
            group.blocks = std::max<std::size_t>(group.blocks, (text.size() + 15) / 16);
            text.resize(group_room);
            records_ += text;
        }
        steps_.push_back({i, Way::Group, groups_.size()});
        groups_.push_back(group);
        i += group.count;
    }
    if (!groups_.empty()) shot_room_ += group_room;
    patterns_.resize(groups_.size() * block_shots);
}

void ColumnWriter::read_patterns(std::span<const std::byte* const> rows, std::size_t first, std::size_t count) {
    // Column by column over the block, which the compiler does many shots at a time.
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const BitGroup& group = groups_[g];
        std::uint8_t* pattern = patterns_.data() + g * block_shots;
        std::fill_n(pattern, count, 0);
        for (std::size_t k = 0; k < group.count; ++k) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(rows[group.first + k]) + first;
            // A byte above 1 is a 1 where any nonzero byte is, and malformed elsewhere.
            const auto strict = static_cast<std::uint8_t>(((group.nonzero_is_one >> k) & 1) ? 0 : malformed);
            for (std::size_t s = 0; s < count; ++s)
                pattern[s] |= static_cast<std::uint8_t>((bytes[s] != 0) << k) | (bytes[s] > 1 ? strict : 0);
        }
    }
}

BREVANT_INLINE void ColumnWriter::emit_shot(OutputBuffer& out, std::span<const std::byte* const> rows,
                                            std::size_t shot, const std::uint8_t* patterns) {
    // Two-record columns are written through a local pointer, committed before
    // any other column and at the end: with the text's size kept in a register
    // rather than in the buffer, each record is one copy.
    char* start = nullptr;
    char* to = nullptr;
    const auto copy_record = [&](std::size_t i) {
        const TwoRecords& two = *two_records_[i];
        const unsigned value = two.record_of(rows[i][shot]);
        if (value > 1) {
            ++out.skipped;
            return;
        }
        const std::size_t size = two.size[value];
        const char* record = records_.data() + two.offset[value];
        // Records are stored padded to record_room bytes: a fixed-size move, not a call.
        if (size <= record_room)
            std::memcpy(to, record, record_room);
        else
            std::memcpy(to, record, size);
        to += size;
    };
    for (const Step& step : steps_) {
        const std::size_t i = step.column;
        switch (step.way) {
            case Way::Group: {
                const BitGroup& group = groups_[step.group];
                if (!to) start = to = out.text.reserve(shot_room_);
                const unsigned pattern = patterns[step.group * block_shots];
                if (pattern & malformed) [[unlikely]] {
                    for (std::size_t k = 0; k < group.count; ++k) copy_record(i + k);
                    continue;
                }
                copy_blocks(to, records_.data() + group.patterns + group_room * pattern, group.blocks);
                to += group.size[pattern];
                continue;
            }
            case Way::TwoRecords:
                if (!to) start = to = out.text.reserve(shot_room_);
                copy_record(i);
                continue;
            case Way::Number: {
                const Column& column = columns_[i];
                const OutputValue value = element_value(column.element, rows[i] + shot * row_bytes_[i]);
                if (value.kind != OutputValue::Kind::Scalar) {  // a uint64 beyond int64
                    ++out.skipped;
                    continue;
                }
                if (!to) start = to = out.text.reserve(shot_room_);
                to = write_plain_record(to, column.type, column.tag, value.scalar);
                continue;
            }
            case Way::Record: {
                const Column& column = columns_[i];
                const std::byte* p = rows[i] + shot * row_bytes_[i];
                if (to) out.text.advance(std::exchange(to, nullptr) - start);
                if (qir_type_of(column.type) == QirType::ResultArray)
                    emit_bit_row(out, column, p, scratch_);
                else
                    emit_scalar(out, column, p);
                continue;
            }
        }
    }
    if (to) out.text.advance(to - start);
    out.text.append(shot_end_text);
}

bool ColumnWriter::pieces_only() const noexcept {
    return !steps_.empty() && std::ranges::all_of(steps_, [](const Step& step) {
        return step.way == Way::Group || step.way == Way::TwoRecords;
    });
}

std::vector<std::string> ColumnWriter::pieces() const {
    std::vector<std::string> pieces;
    for (std::size_t s = 0; s < steps_.size(); ++s) {
        const Step& step = steps_[s];
        for (std::size_t pattern = 0; pattern < pattern_count(step); ++pattern) {
            std::string& text = pieces.emplace_back(s == 0 ? shot_start_text : std::string_view{});
            if (step.way == Way::Group)
                text.append(records_, groups_[step.group].patterns + group_room * pattern, groups_[step.group].size[pattern]);
            else
                text.append(records_, two_records_[step.column]->offset[pattern], two_records_[step.column]->size[pattern]);
            if (s + 1 == steps_.size()) text += shot_end_text;
        }
    }
    return pieces;
}

bool ColumnWriter::piece_numbers(std::span<const std::byte* const> rows, std::size_t first, std::size_t end,
                                 std::uint32_t* numbers) {
    for (std::size_t block = first; block < end; block += block_shots) {
        const std::size_t count = std::min(block_shots, end - block);
        read_patterns(rows, block, count);
        for (std::size_t shot = 0; shot < count; ++shot) {
            std::uint32_t step_first = 0;  // the number of the step's pattern 0
            for (const Step& step : steps_) {
                unsigned pattern;
                if (step.way == Way::Group) {
                    pattern = patterns_[step.group * block_shots + shot];
                    if (pattern & malformed) return false;
                } else {
                    pattern = two_records_[step.column]->record_of(rows[step.column][block + shot]);
                    if (pattern > 1) return false;
                }
                *numbers++ = step_first + pattern;
                step_first += static_cast<std::uint32_t>(pattern_count(step));
            }
        }
    }
    return true;
}

std::size_t ColumnWriter::shot_size_estimate() const noexcept {
    std::size_t size = shot_start_text.size() + shot_end_text.size();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const Column& column = columns_[i];
        if (const std::optional<TwoRecords>& two = two_records_[i])
            size += std::max(two->size[0], two->size[1]);
        else
            size += record_prefix(column.type).size + (column.width == 1 ? 20 : column.width) + column.tag.size() + 2;
    }
    return size;
}

std::size_t ColumnWriter::emit_shots(OutputBuffer& out, std::span<const std::byte* const> rows, std::size_t first,
                                     std::size_t end, const AttributeMap* header, std::size_t text_limit) {
    std::size_t shot = first;
    if (header && shot < end) {
        read_patterns(rows, shot, 1);
        out.text.append(results_header_text);
        emit_first_shot_header(out.text, *header);
        emit_shot(out, rows, shot++, patterns_.data());
    }
    while (shot < end && out.text.size() < text_limit) {
        const std::size_t block_start = shot;
        const std::size_t block_end = std::min(end, block_start + block_shots);
        read_patterns(rows, block_start, block_end - block_start);
        for (; shot < block_end && out.text.size() < text_limit; ++shot) {
            out.text.append(shot_start_text);
            emit_shot(out, rows, shot, patterns_.data() + (shot - block_start));
        }
    }
    return shot;
}

}  // namespace brevant
