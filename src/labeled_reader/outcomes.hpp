#pragma once
// Bit strings of shots: the measured bits of each shot, RESULT values and
// RESULT_ARRAY bits in record order, first record leftmost; or, given
// labels, the bits of just those labels in the order given (a marginal).
// Outcomes of up to 64 bits are told apart by their packed integer, so a
// text is only ever made once per distinct outcome, by the caller, never per shot.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "labeled_reader/document.hpp"

namespace brevant::reader {

struct Outcomes {
    struct Distinct {
        std::uint64_t packed;     // first bit most significant
        std::uint64_t bit_count;
        const std::string* text;  // the bits as text when there are more than 64, else null
    };
    std::vector<Distinct> distinct;     // in order of first appearance
    std::vector<std::uint64_t> counts;  // shots per distinct outcome
    std::vector<std::uint32_t> of_shot; // each shot's outcome index
    std::deque<std::string> long_texts; // a deque: `text` pointers stay valid as it grows

    // The text of distinct outcome `i`; `buffer` holds it when it is packed.
    std::string_view text(std::size_t i, char (&buffer)[packed_bits_max]) const noexcept;
};

// Throws ParseError at a shot whose selected RESULT value is not a bit or
// that lacks a selected label.
Outcomes outcomes(const Document& doc, const std::vector<std::string_view>* labels);

}  // namespace brevant::reader
