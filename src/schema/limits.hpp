#pragma once
// Bounds on what one document may ask a reader to hold. A log states its
// own counts and lengths, so each is checked before anything is allocated
// for it, and a hostile one fails at the line that crosses the bound.

#include <cstddef>
#include <cstdint>

namespace brevant {

struct Limits {
    std::size_t max_line_bytes = std::size_t{16} << 20;
    std::uint32_t max_labels = std::uint32_t{1} << 20;  // an Entry holds a column in 24 bits
    std::uint32_t max_nesting = 256;
    std::uint64_t max_shot_entries = std::uint64_t{1} << 26;
};

}  // namespace brevant
