#pragma once
// The push reader: bytes in, in chunks split anywhere; a Document out.
//
// It reads the labeled and the ordered schema and the variants writers have
// produced: any schema version or none, METADATA anywhere, containers as
// "[a, b]" values or as a count followed by that many element records.
// A departure is a ParseError at its line. In the raising mode the first one
// stops the reader for good; in the collecting mode it is recorded, the shot it
// occurred in is dropped, and reading resumes at the next START. Whatever
// could make a later count fail (a RESULT that is not a bit) is a departure
// here, so a document that was read is counted without errors.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "labeled_reader/document.hpp"
#include "labeled_reader/label_table.hpp"
#include "labeled_reader/line_splitter.hpp"
#include "labeled_reader/modes.hpp"
#include "labeled_reader/parse_error.hpp"
#include "labeled_reader/record.hpp"
#include "schema/limits.hpp"

namespace brevant::reader {

class DocumentReader {
public:
    explicit DocumentReader(Departures departures, Limits limits = {});

    void feed(std::string_view chunk);
    void finish();  // the end of the input

    const Document& document() const noexcept { return doc_; }
    const std::vector<ParseError>& problems() const noexcept { return problems_; }

    // Forgets the completed shots, keeping the one being read, and the labels
    // no shot still needs: a streaming reader holds no more than one shot and
    // one chunk, however many labels the document holds.
    void discard_completed();

    // LineSplitter's sink.
    void line(std::string_view text, std::uint64_t number);
    void overlong(std::uint64_t number);

private:
    enum class State : std::uint8_t { Between, InShot, Skipping, Failed };
    struct OpenContainer {
        std::uint64_t remaining;
        std::uint64_t line;
        QirType type;
    };

    void record(std::string_view text);
    void header(const Record& r, std::string_view text);
    void start(const Record& r);
    void metadata(const Record& r, std::string_view text);
    void output(const Record& r);
    enum class ValueProblem : std::uint8_t {
        NotBits, CountBeyondLimit, TooDeep, NegativeCount, NotAList, NotANumber, TooManyDigits, NotABit
    };
    Entry big_integer(QirType type, const Field& field);
    [[noreturn, gnu::cold, gnu::noinline]] void value_error(ValueProblem problem, QirType type, const Field& field) const;
    // `tag` is null for a record without one; `value` is a RESULT_ARRAY's bits.
    void append(Entry entry, QirType type, const Field* tag, std::string_view value);
    void end(const Record& r);
    void add_outcome_bit(bool bit) {
        if (shot_.bit_count < packed_bits_max) {
            shot_.packed = (shot_.packed << 1) | static_cast<std::uint64_t>(bit);
            ++shot_.bit_count;
        } else {
            add_unpacked_bit(bit);
        }
    }
    void add_unpacked_bit(bool bit);
    void check_large_shot(std::size_t position, std::uint32_t column, const Field* tag);
    void forget_labels();
    void drop_shot();
    [[noreturn]] void fail(std::size_t column, std::string message) const;
    // Names and values become str objects, so they must be text.
    void require_text(const Field& field) const;
    void report(const ParseError& error);

    Departures departures_;
    Limits limits_;
    std::uint64_t large_shot_;  // records in a shot past which the shot's limits are checked
    LineSplitter splitter_;
    Document doc_;
    LabelTable labels_;
    std::vector<ParseError> problems_;
    std::optional<ParseError> failure_;  // the raising mode's error, raised again by any later call
    std::vector<OpenContainer> open_;
    State state_ = State::Between;
    std::uint64_t line_ = 0;
    bool attributes_done_ = false;
    Shot shot_{};  // the shot being read
    std::size_t shot_list_items_ = 0;
    std::size_t shot_bits_ = 0;
    // Distinct labels of the shot being read, counted only once it holds more
    // records than a shot may hold labels.
    std::vector<bool> shot_label_seen_;
    std::uint32_t shot_label_count_ = 0;
};

}  // namespace brevant::reader
