#pragma once
// The texts findings are made of. Details quote the document's text as
// Python's ascii() shows it, so that messages read alike whatever wrote them.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "labeled_checker/finding.hpp"

namespace brevant::checker {

struct Detail {
    std::string_view name;
    std::string_view value;
};

// The code's message with each {name} replaced by its detail.
std::string message(Code code, std::initializer_list<Detail> details);

// A field's text as a quoted literal, cut after 40 characters; bytes that are
// not UTF-8 show as the lone surrogates a surrogateescape decoding gives them.
std::string shown(std::string_view text);

// The character starting at `at`: "U+00E9", or "the byte 0xFF" for a byte
// that starts no UTF-8 sequence.
std::string character_name(const char* at, const char* end);

std::string decimal(std::uint64_t value);

}  // namespace brevant::checker
