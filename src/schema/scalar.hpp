#pragma once
// A value's scalar: a bool, an integer or a double. The formatter classifies a
// caller's Python value into one; the reader parses a value field into one.
// And what counts as a bit, in a scalar and in text.

#include <cstdint>
#include <optional>
#include <string_view>

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
// measured bit only when it is one, and a RESULT_ARRAY is written only from
// bits. The bit as its text, '0' or '1', or '\0' for a scalar that is none: a
// char rather than an optional, which costs the formatter's bit strings 3%.
inline char bit_char(const Scalar& s) noexcept {
    if (s.kind == Scalar::Kind::Bool) return s.boolean ? '1' : '0';
    if (s.kind == Scalar::Kind::Int && (s.integer == 0 || s.integer == 1)) return static_cast<char>('0' + s.integer);
    return '\0';
}

inline std::optional<bool> as_bit(const Scalar& s) noexcept {
    const char bit = bit_char(s);
    return bit ? std::optional(bit == '1') : std::nullopt;
}

// In text, a bit is '0' or '1'; a RESULT_ARRAY's value is a string of them.
constexpr bool is_bit_char(char c) noexcept { return c == '0' || c == '1'; }

constexpr bool is_bit_string(std::string_view text) noexcept {
    for (char c : text)
        if (!is_bit_char(c)) return false;
    return true;
}

}  // namespace brevant
