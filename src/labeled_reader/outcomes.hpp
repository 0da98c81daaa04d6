#pragma once
// Bit strings of shots, and how many shots gave each.
//
// In a labeled document a result's place in the bit string is fixed by its
// label: the order in which the document first records the labels, whatever
// the order of the records within a shot. A shot counted that way must record
// the same RESULT labels as the first shot that did. Without labels, and for
// a shot that leaves a label empty or records one twice, a result's place is
// its record's place. A RESULT_ARRAY's own bits keep their order. With chosen
// labels, only those are taken, in the order chosen (a marginal).
//
// Outcomes of up to 64 bits are told apart by their packed integer, so a
// text is only ever made once per distinct outcome, by the caller, never per shot.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "labeled_reader/document.hpp"
#include "labeled_reader/modes.hpp"
#include "labeled_reader/parse_error.hpp"
#include "schema/limits.hpp"

namespace brevant::reader {

// A question about bits that the document cannot answer as asked, such as
// counts over shots that record different labels.
struct RequestError {
    std::string message;
};

// Decides, shot by shot, which measured bits make a shot's bit string and in
// what order: the one place that holds the rules above. It keeps what it
// learnt from earlier shots, so a stream is decided chunk after chunk as the
// whole document would be.
class BitPicker {
public:
    // `labels`: the chosen labels, in their order, or none for every result.
    explicit BitPicker(std::vector<std::string> labels = {}, bool chosen = false);

    struct Picked {
        enum class Status : std::uint8_t {
            RecordOrder,  // the shot's own bits in record order: Shot::packed or its outcome text
            Text,         // the bits in `text`
            Missing,      // a chosen label the shot lacks: `text` names it
        } status;
        std::string_view text;
    };
    // Throws RequestError for a successful shot whose labels differ from the first shot's.
    Picked pick(const Document& doc, const Shot& shot);

private:
    struct BitRecord {
        std::uint32_t column;
        std::string_view bits;  // a RESULT's "0"/"1", or a RESULT_ARRAY's value
    };
    void gather(const Document& doc, const Shot& shot);
    std::int32_t slot_of(const Document& doc, std::uint32_t column);
    Picked pick_chosen(const Document& doc, const Shot& shot);
    Picked pick_by_label(const Document& doc, const Shot& shot);
    [[noreturn]] void differ(const Document& doc, const Shot& shot) const;

    bool chosen_;
    std::vector<std::string> labels_;  // chosen, or learnt from the first shot counted by label
    bool learnt_ = false;
    std::uint64_t learnt_line_ = 0;
    std::unordered_map<std::string_view, std::uint32_t> slot_of_label_;
    bool record_order_holds_ = false;  // the last shot's bits were in label order already
    // Slot of each column's label, -1 for none; cached per document and numbering.
    std::vector<std::int32_t> slot_of_column_;
    const Document* cached_doc_ = nullptr;
    std::uint64_t cached_epoch_ = 0;
    std::vector<BitRecord> records_;
    std::vector<std::int32_t> found_;
    std::string text_;
};

struct Outcomes {
    static constexpr std::uint32_t left_out = UINT32_MAX;
    struct Distinct {
        std::uint64_t packed;     // first bit most significant
        std::uint64_t bit_count;
        const std::string* text;  // the bits as text when there are more than 64, else null
    };
    std::vector<Distinct> distinct;     // in order of first appearance
    std::vector<std::uint64_t> counts;  // shots counted per distinct outcome; 0 for those only failed shots gave
    std::vector<std::uint32_t> of_shot; // each shot's outcome index, or left_out
    std::deque<std::string> long_texts; // a deque: `text` pointers stay valid as it grows
    std::vector<ParseError> problems;   // with Departures::Collect: why shots were left out
    std::uint64_t failed_left_out = 0;  // shots with a non-zero exit code, not counted

    // The text of distinct outcome `i`; `buffer` holds it when it is packed.
    std::string_view text(std::size_t i, BitOrder order, std::string& buffer) const;
};

struct OutcomeRequest {
    FailedShots failed = FailedShots::LeaveOut;
    Departures departures = Departures::Raise;
};

// Throws RequestError where the picker does, and, in the raising mode, where
// a successful shot lacks a chosen label.
Outcomes outcomes(const Document& doc, BitPicker& picker, const OutcomeRequest& request);

}  // namespace brevant::reader
