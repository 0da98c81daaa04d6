#pragma once
// Bounds on what one document may ask a reader to hold. A log states its
// own counts and lengths, so each is checked before anything is allocated
// for it, and a hostile one fails at the line that crosses the bound.

#include <cstddef>
#include <cstdint>

namespace brevant {

struct Limits {
    std::size_t max_line_bytes = std::size_t{16} << 20;
    std::uint32_t max_labels = std::uint32_t{1} << 20;  // distinct labels in one shot
    std::uint32_t max_nesting = 256;
    std::uint64_t max_shot_entries = std::uint64_t{1} << 26;
    // Python's own bound on converting decimal text to int.
    std::size_t max_int_digits = 4300;
};

// Problems kept in the collecting mode; past this many, reading goes on
// without keeping more.
inline constexpr std::size_t max_problems = 1000;

}  // namespace brevant
