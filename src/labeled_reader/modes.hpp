#pragma once
// The choices a caller makes about reading and counting, named.

#include <cstdint>

namespace brevant::reader {

// What becomes of a departure: it stops the reader for good (raising), or it
// is kept as a problem, the shot it occurred in is left out, and reading
// goes on (collecting).
enum class Departures : std::uint8_t { Raise, Collect };

// Record: the first result of a bit string leftmost, as RESULT_ARRAY values
// are written. Reversed: the first result rightmost (little-endian, as Qiskit
// counts).
enum class BitOrder : std::uint8_t { Record, Reversed };

// Whether shots that ended with a non-zero exit code are counted as outcomes.
enum class FailedShots : std::uint8_t { LeaveOut, Count };

}  // namespace brevant::reader
