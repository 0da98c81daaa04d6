#pragma once
// A value's scalar: a bool, an integer or a double. The formatter classifies a
// caller's Python value into one; the reader parses a value field into one.

#include <cstdint>
#include <optional>

namespace brevant {

struct Scalar {
    // A whole word, though a byte would do: a byte-wide kind is stored and then
    // reloaded at a wider size, which stalls until the store retires (a byte
    // measured 1-3% slower on the formatter's `measure` and `wide`).
    enum class Kind : std::uint64_t { Bool, Int, Float };
    Kind kind = Kind::Int;
    union {
        bool boolean;
        std::int64_t integer = 0;  // all eight bytes defined, whatever the kind
        double real;
    };

    static Scalar from_bool(bool b) noexcept {
        Scalar s;
        s.kind = Kind::Bool;
        s.boolean = b;
        return s;
    }
    static Scalar from_int(std::int64_t i) noexcept {
        Scalar s;
        s.kind = Kind::Int;
        s.integer = i;
        return s;
    }
    static Scalar from_double(double d) noexcept {
        Scalar s;
        s.kind = Kind::Float;
        s.real = d;
        return s;
    }
};

// What counts as a bit: a bool, or the integer 0 or 1. A RESULT value is a
// measured bit only when it is one, and a RESULT_ARRAY is written only from bits.
inline std::optional<bool> as_bit(const Scalar& s) noexcept {
    if (s.kind == Scalar::Kind::Bool) return s.boolean;
    if (s.kind == Scalar::Kind::Int && (s.integer == 0 || s.integer == 1)) return s.integer == 1;
    return std::nullopt;
}

}  // namespace brevant
