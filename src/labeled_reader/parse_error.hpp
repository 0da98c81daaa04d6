#pragma once
// A departure from the record format, located in the document.

#include <cstdint>
#include <string>

namespace brevant::reader {

// Deliberately not a std::exception: the binding turns these into the
// caller's parse error, and anything else into an internal failure.
struct ParseError {
    std::uint64_t line;    // 1-based
    std::uint64_t column;  // 1-based byte offset in the line
    std::string message;
};

}  // namespace brevant::reader
