#pragma once
// Bit strings of shots: the measured bits of each shot, RESULT values and
// RESULT_ARRAY bits in record order, first record leftmost; or, given
// labels, the bits of just those labels in the order given (a marginal).
// Shots of up to 64 bits are told apart by their packed integer, so a text
// is built once per distinct outcome, never per shot.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "labeled_reader/document.hpp"

namespace brevant::reader {

struct Outcomes {
    std::vector<std::string> texts;     // each distinct outcome, in order of first appearance
    std::vector<std::uint64_t> counts;  // shots per outcome
    std::vector<std::uint32_t> of_shot; // each shot's outcome index
};

// Throws ParseError at a shot whose selected RESULT value is not a bit or
// that lacks a selected label.
Outcomes outcomes(const Document& doc, const std::vector<std::string_view>* labels);

}  // namespace brevant::reader
