#pragma once

#include <cstddef>
#include <cstdint>

#include "labeled_formatter/text_buffer.hpp"

namespace brevant {

// Everything one method call produces: its text, and how many values it
// skipped as malformed (each reported as one warning once the text is built).
struct OutputBuffer {
    explicit OutputBuffer(std::size_t front_gap = 0) : text(front_gap) {}

    TextBuffer text;
    std::uint64_t skipped = 0;
};

}  // namespace brevant
