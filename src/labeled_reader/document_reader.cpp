#include "labeled_reader/document_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <utility>

#include "labeled_reader/dialect.hpp"
#include "labeled_reader/utf8.hpp"
#include "labeled_reader/value_parse.hpp"

namespace brevant::reader {
namespace {

constexpr std::size_t reserve_step_max = std::size_t{1} << 20;  // entries

std::string_view rest_from(std::string_view line, const Field& field) {
    return line.substr(field.column - 1);
}

}  // namespace

DocumentReader::DocumentReader(Departures departures, Limits limits)
    : departures_(departures),
      limits_(limits),
      large_shot_(std::min<std::uint64_t>(limits.max_labels, limits.max_shot_entries)),
      splitter_(limits.max_line_bytes) {}

void DocumentReader::feed(std::string_view chunk) {
    if (state_ == State::Failed) throw *failure_;
    // Records are rarely shorter than 16 bytes: room for the chunk's entries
    // up front spares the copies of growing one at a time, and doubling keeps
    // a document fed in many chunks from being copied once per chunk. The
    // guess is capped: a chunk may be one enormous line.
    std::size_t wanted = doc_.entries.size() + std::min(chunk.size() / 16, reserve_step_max);
    if (wanted > doc_.entries.capacity()) doc_.entries.reserve(std::max(wanted, 2 * doc_.entries.capacity()));
    splitter_.feed(chunk, *this);
}

void DocumentReader::finish() {
    if (state_ == State::Failed) throw *failure_;
    splitter_.finish(*this);
    if (state_ == State::InShot) {
        report(ParseError{line_, 1, "the document ends inside the shot started at line " + std::to_string(shot_.line)});
        drop_shot();
        state_ = State::Between;
    }
}

void DocumentReader::line(std::string_view text, std::uint64_t number) {
    line_ = number;
    // Editors on Windows start UTF-8 files with a byte order mark.
    if (number == 1 && text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    try {
        record(text);
    } catch (const ParseError& error) {
        report(error);
        if (state_ == State::InShot) {
            drop_shot();
            state_ = State::Skipping;
        }
    }
}

void DocumentReader::overlong(std::uint64_t number) {
    line_ = number;
    report(ParseError{number, limits_.max_line_bytes + 1,
                      "line longer than " + std::to_string(limits_.max_line_bytes) + " bytes"});
    if (state_ == State::InShot) {
        drop_shot();
        state_ = State::Skipping;
    }
}

void DocumentReader::report(const ParseError& error) {
    if (departures_ == Departures::Raise) {
        state_ = State::Failed;
        failure_ = error;
        throw error;
    }
    if (problems_.size() < max_problems) problems_.push_back(error);
}

void DocumentReader::fail(std::size_t column, std::string message) const {
    throw ParseError{line_, column, std::move(message)};
}

void DocumentReader::require_text(const Field& field) const {
    if (!is_utf8(field.text)) fail(field.column, quoted(field.text) + " is not UTF-8 text");
}

void DocumentReader::record(std::string_view text) {
    // The record most documents are made of, "OUTPUT\tRESULT\t<bit>\t<tag>",
    // goes straight to its entry.
    static constexpr std::string_view result_prefix = output_prefix<QirType::Result>.view();
    if (text.size() > result_prefix.size() + 1 && state_ == State::InShot &&
        std::memcmp(text.data(), result_prefix.data(), result_prefix.size()) == 0) {
        char bit = text[result_prefix.size()];
        if (is_bit_char(bit) && text[result_prefix.size() + 1] == field_separator) {
            std::size_t tag_start = result_prefix.size() + 2;
            Field tag{text.substr(tag_start), tag_start + 1};
            return append(entry_of(Scalar::from_int(bit - '0')), QirType::Result, &tag, {});
        }
    }
    if (text.empty()) return;
    Record r = split_record(text);
    std::optional<RecordKind> kind = record_kind(r.kind.text);
    if (state_ == State::Skipping) {
        if (kind == RecordKind::Start) {
            state_ = State::Between;
            start(r);
        } else if (kind == RecordKind::End) {
            state_ = State::Between;
        }
        return;
    }
    if (!kind) fail(1, "unknown record kind " + quoted(r.kind.text));
    switch (*kind) {
        case RecordKind::Output: return output(r);
        case RecordKind::Start: return start(r);
        case RecordKind::End: return end(r);
        case RecordKind::Metadata: return metadata(r, text);
        case RecordKind::Header: return header(r, text);
    }
}

// A header written twice keeps its first value everywhere; a second value
// that differs is a departure, and so is a schema that is neither of the two.
void DocumentReader::header(const Record& r, std::string_view text) {
    if (state_ == State::InShot) fail(1, "HEADER inside the shot started at line " + std::to_string(shot_.line));
    if (r.field_count == 0) fail(r.kind.text.size() + 1, "HEADER without a name");
    std::string_view name = r.fields[0].text;
    std::string_view value = r.field_count > 1 ? rest_from(text, r.fields[1]) : std::string_view();
    std::size_t value_column = r.field_count > 1 ? r.fields[1].column : text.size() + 1;
    require_text(r.fields[0]);
    if (r.field_count > 1) require_text({value, r.fields[1].column});
    for (const auto& [known, first] : doc_.headers)
        if (known == name) {
            if (first == value) return;
            fail(value_column, "HEADER " + quoted(name) + " again with " + quoted(value) + ": the first, " +
                                   quoted(first) + ", holds");
        }
    doc_.headers.emplace_back(std::string(name), std::string(value));
    if ((name == "schema_id" || name == "schema_name") && !known_schema(value))
        fail(value_column, "unknown " + std::string(name) + " " + quoted(value) + " (labeled or ordered)");
}

void DocumentReader::metadata(const Record& r, std::string_view text) {
    if (r.field_count == 0) fail(r.kind.text.size() + 1, "METADATA without a name");
    std::string_view key = r.fields[0].text;
    std::optional<std::string> value;
    require_text(r.fields[0]);
    if (r.field_count > 1) {
        value = std::string(rest_from(text, r.fields[1]));
        require_text({*value, r.fields[1].column});
    }
    if (key == "output_labeling_schema" && value && !doc_.labeling_schema) doc_.labeling_schema = value;
    if (!attributes_done_) doc_.attributes.emplace_back(std::string(key), std::move(value));
}

void DocumentReader::start(const Record& r) {
    if (state_ == State::InShot) {
        report(ParseError{line_, 1, "START inside the shot started at line " + std::to_string(shot_.line)});
        drop_shot();
    }
    shot_ = Shot{};
    shot_.first_entry = doc_.entries.size();
    shot_.line = line_;
    shot_.bits_offset = doc_.outcome_text.size();
    shot_list_items_ = doc_.list_items.size();
    shot_bits_ = doc_.bits.size();
    shot_label_seen_.clear();
    shot_label_count_ = 0;
    state_ = State::InShot;
    if (r.field_count > 0) fail(r.fields[0].column, "START with a field: " + quoted(r.fields[0].text));
}

// Past 64 bits the shot's outcome moves from its packed integer to text.
void DocumentReader::add_unpacked_bit(bool bit) {
    if (shot_.bit_count == packed_bits_max)
        for (std::uint64_t i = packed_bits_max; i-- > 0;)
            doc_.outcome_text.push_back(static_cast<char>('0' + ((shot_.packed >> i) & 1)));
    doc_.outcome_text.push_back(static_cast<char>('0' + bit));
    ++shot_.bit_count;
}

void DocumentReader::output(const Record& r) {
    if (state_ != State::InShot) fail(1, "OUTPUT outside a shot");
    if (r.field_count < 2) fail(r.kind.text.size() + 1, "OUTPUT without a type and a value");
    const Field& type_field = r.fields[0];
    const Field& value_field = r.fields[1];
    std::optional<QirType> type = qir_type_named(type_field.text);
    if (!type) fail(type_field.column, "unknown output type " + quoted(type_field.text));
    std::string_view value = value_field.text;
    bool container = *type == QirType::Array || *type == QirType::Tuple;
    Entry entry;
    if (*type == QirType::ResultArray) {
        if (!is_bit_string(value)) value_error(ValueProblem::NotBits, *type, value_field);
        entry = entry_of(EntryKind::Bits, static_cast<std::uint32_t>(value.size()), doc_.bits.size());
        doc_.bits.append(value);
    } else if (std::optional<std::uint64_t> count; container && (count = parse_count(value))) {
        if (*count > limits_.max_shot_entries) value_error(ValueProblem::CountBeyondLimit, *type, value_field);
        if (*count > 0 && open_.size() >= limits_.max_nesting) value_error(ValueProblem::TooDeep, *type, value_field);
        entry = entry_of(EntryKind::Container, static_cast<std::uint32_t>(*count), 0);
    } else if (container && value.size() > 1 && value[0] == '-' && is_integer_text(value)) {
        value_error(ValueProblem::NegativeCount, *type, value_field);
    } else if (!value.empty() && value.front() == '[') {
        std::size_t first = doc_.list_items.size();
        if (!parse_list(value, doc_.list_items)) value_error(ValueProblem::NotAList, *type, value_field);
        entry = entry_of(EntryKind::List, static_cast<std::uint32_t>(doc_.list_items.size() - first), first);
    } else if (std::optional<Scalar> scalar =
                   parse_scalar(value, *type == QirType::Double ? Within::DoubleRecord : Within::Other)) {
        entry = entry_of(*scalar);
    } else {
        entry = big_integer(*type, value_field);
    }
    if (*type == QirType::Result && !(entry.is_scalar() && as_bit(entry.scalar())))
        value_error(ValueProblem::NotABit, *type, value_field);

    bool tagged = r.field_count == 3;
    append(entry, *type, tagged ? &r.fields[2] : nullptr, value);
}

void DocumentReader::append(Entry entry, QirType type, const Field* tag, std::string_view value) {
    std::size_t position = doc_.entries.size() - shot_.first_entry;
    std::uint32_t column = labels_.intern(doc_.columns, type, tag != nullptr, tag ? tag->text : std::string_view(),
                                          position, max_document_labels);
    if (column == LabelTable::none)
        fail(tag ? tag->column : 1, "more than " + std::to_string(max_document_labels) +
                                        " distinct labels in a document read whole; read it as a stream");
    if (column == LabelTable::not_text) fail(tag->column, "label " + quoted(tag->text) + " is not UTF-8 text");
    if (position >= large_shot_) [[unlikely]]
        check_large_shot(position, column, tag);
    entry.column = column;
    (tag ? doc_.saw_tagged_output : doc_.saw_untagged_output) = true;

    if (type == QirType::Result) {
        add_outcome_bit(*as_bit(entry.scalar()));  // output() let only bits through
    } else if (entry.kind() == EntryKind::Bits) {
        for (char c : value) add_outcome_bit(c == '1');
    }
    doc_.entries.push_back(entry);

    if (!open_.empty()) --open_.back().remaining;
    if (entry.kind() == EntryKind::Container && entry.size > 0) open_.push_back(OpenContainer{entry.size, line_, type});
    while (!open_.empty() && open_.back().remaining == 0) open_.pop_back();
}

// Python ints have no width: an integer of any length reads as one.
Entry DocumentReader::big_integer(QirType type, const Field& field) {
    std::string_view value = field.text;
    if (!is_integer_text(value)) value_error(ValueProblem::NotANumber, type, field);
    std::string_view digits = value.substr(value[0] == '-' || value[0] == '+' ? 1 : 0);
    if (digits.size() > limits_.max_int_digits) value_error(ValueProblem::TooManyDigits, type, field);
    Entry entry = entry_of(EntryKind::BigInt, static_cast<std::uint32_t>(value.size()), doc_.bits.size());
    doc_.bits.append(value);
    return entry;
}

// Messages are built here, away from the path every record takes.
void DocumentReader::value_error(ValueProblem problem, QirType type, const Field& field) const {
    std::string name(qir_name(type));
    std::string value = quoted(field.text);
    switch (problem) {
        case ValueProblem::NotBits: fail(field.column, name + " value " + value + " is not a string of bits");
        case ValueProblem::CountBeyondLimit:
            fail(field.column, name + " of " + value + " elements: a shot holds at most " +
                                   std::to_string(limits_.max_shot_entries) + " records");
        case ValueProblem::TooDeep:
            fail(field.column, "containers nested more than " + std::to_string(limits_.max_nesting) + " deep");
        case ValueProblem::NegativeCount: fail(field.column, name + " of " + value + " elements: a count is not negative");
        case ValueProblem::NotAList: fail(field.column, "value " + value + " is not a list of numbers");
        case ValueProblem::NotANumber: fail(field.column, name + " value " + value + " is not a number or a bool");
        case ValueProblem::TooManyDigits: {
            std::size_t digits = field.text.size() - (field.text[0] == '-' || field.text[0] == '+');
            fail(field.column, name + " value of " + std::to_string(digits) + " digits: at most " +
                                   std::to_string(limits_.max_int_digits) + " are read");
        }
        case ValueProblem::NotABit: fail(field.column, name + " value " + value + " is not a bit (0, 1, true or false)");
    }
    fail(field.column, name + " value " + value);
}

// A shot of many records: past `max_labels` of them its distinct labels are
// counted, the labels of the records so far once, then each new one.
void DocumentReader::check_large_shot(std::size_t position, std::uint32_t column, const Field* tag) {
    if (position >= limits_.max_shot_entries)
        fail(1, "a shot of more than " + std::to_string(limits_.max_shot_entries) + " records");
    if (position < limits_.max_labels) return;
    if (shot_label_seen_.size() < doc_.columns.size()) shot_label_seen_.resize(doc_.columns.size());
    auto see = [&](std::uint32_t c) {
        if (shot_label_seen_[c]) return;
        shot_label_seen_[c] = true;
        if (++shot_label_count_ > limits_.max_labels)
            fail(tag ? tag->column : 1, "more than " + std::to_string(limits_.max_labels) + " distinct labels in one shot");
    };
    if (shot_label_count_ == 0 || doc_.entries.size() - shot_.first_entry == limits_.max_labels) {
        shot_label_count_ = 0;
        std::fill(shot_label_seen_.begin(), shot_label_seen_.end(), false);
        for (std::size_t e = shot_.first_entry; e < doc_.entries.size(); ++e) see(doc_.entries[e].column);
    }
    see(column);
}

void DocumentReader::end(const Record& r) {
    if (state_ != State::InShot) fail(1, "END outside a shot");
    if (r.field_count == 0) fail(r.kind.text.size() + 1, "END without an exit code");
    if (r.field_count > 1) fail(r.fields[1].column, "END with a second field: " + quoted(r.fields[1].text));
    std::string_view code = r.fields[0].text;
    std::int64_t exit_code = 0;
    // from_chars takes a '-' but not a '+'; "+-5" is no integer.
    const char* first = code.size() > 1 && code[0] == '+' && code[1] != '-' ? code.data() + 1 : code.data();
    auto [stop, ec] = std::from_chars(first, code.data() + code.size(), exit_code);
    if (ec == std::errc::result_out_of_range)
        fail(r.fields[0].column, "exit code " + quoted(code) + " is beyond the 64-bit limit (" +
                                     std::to_string(INT64_MIN) + " to " + std::to_string(INT64_MAX) + ")");
    if (code.empty() || ec != std::errc() || stop != code.data() + code.size())
        fail(r.fields[0].column, "exit code " + quoted(code) + " is not an integer");
    // A shot that failed may stop inside a container.
    if (!open_.empty() && exit_code == 0) {
        const OpenContainer& open = open_.front();
        fail(1, std::string(qir_name(open.type)) + " at line " + std::to_string(open.line) +
                    " misses elements: the shot ends first");
    }
    shot_.entry_count = doc_.entries.size() - shot_.first_entry;
    open_.clear();
    shot_.exit_code = exit_code;
    shot_.same_labels_as_previous = labels_.end_shot();
    doc_.shots.push_back(shot_);
    state_ = State::Between;
    if (!doc_.attributes.empty()) attributes_done_ = true;
}

void DocumentReader::drop_shot() {
    doc_.entries.resize(shot_.first_entry);
    doc_.list_items.resize(shot_list_items_);
    doc_.bits.resize(shot_bits_);
    doc_.outcome_text.resize(shot_.bits_offset);
    labels_.drop_shot();
    open_.clear();
    shot_label_seen_.clear();
    shot_label_count_ = 0;
}

void DocumentReader::discard_completed() {
    if (state_ != State::InShot) {
        doc_.entries.clear();
        doc_.list_items.clear();
        doc_.bits.clear();
        doc_.outcome_text.clear();
        doc_.shots.clear();
        forget_labels();
        return;
    }
    doc_.entries.erase(doc_.entries.begin(), doc_.entries.begin() + static_cast<std::ptrdiff_t>(shot_.first_entry));
    doc_.list_items.erase(doc_.list_items.begin(), doc_.list_items.begin() + static_cast<std::ptrdiff_t>(shot_list_items_));
    doc_.bits.erase(0, shot_bits_);
    doc_.outcome_text.erase(0, shot_.bits_offset);
    for (Entry& entry : doc_.entries) {
        if (entry.kind() == EntryKind::List) entry.offset -= shot_list_items_;
        if (entry.kind() == EntryKind::Bits || entry.kind() == EntryKind::BigInt) entry.offset -= shot_bits_;
    }
    shot_.first_entry = 0;
    shot_.bits_offset = 0;
    shot_list_items_ = 0;
    shot_bits_ = 0;
    doc_.shots.clear();
    forget_labels();
}

// Documents whose labels change from shot to shot would otherwise grow the
// label table without end. Only the labels of the shot being read and of the
// last one (the table's guess for the next) are still needed; the table is
// cut back to them once it holds well more than that.
void DocumentReader::forget_labels() {
    constexpr std::size_t labels_kept_anyway = 4096;
    std::size_t needed = doc_.entries.size() + labels_.expected_size();
    if (doc_.columns.size() <= labels_kept_anyway + 2 * needed) return;
    constexpr std::uint32_t dropped = UINT32_MAX;
    std::vector<std::uint32_t> renumbered(doc_.columns.size(), dropped);
    std::vector<Column> kept;
    auto keep = [&](std::uint32_t column) {
        if (renumbered[column] == dropped) {
            renumbered[column] = static_cast<std::uint32_t>(kept.size());
            kept.push_back(std::move(doc_.columns[column]));
        }
        return renumbered[column];
    };
    labels_.for_each_needed([&](std::uint32_t column) { keep(column); });
    for (Entry& entry : doc_.entries) entry.column = keep(entry.column);
    doc_.columns = std::move(kept);
    labels_.renumber(doc_.columns, renumbered);
    ++doc_.columns_epoch;
    shot_label_seen_.clear();
    shot_label_count_ = 0;
}

}  // namespace brevant::reader
