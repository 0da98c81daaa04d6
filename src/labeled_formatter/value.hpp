#pragma once
// The value model: what a caller's Python value is once it has been read.

#include <cstdint>
#include <span>

namespace brevant {

struct Scalar {
    // A whole word, though a byte would do: a byte-wide kind is stored and then
    // reloaded at a wider size, which stalls until the store retires (a byte
    // measured 1-3% slower on `measure` and `wide`).
    enum class Kind : std::uint64_t { Bool, Int, Float };
    Kind kind = Kind::Int;
    union {
        bool boolean;
        std::int64_t integer = 0;
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

// A classified value. A list's items live in storage owned by the call that
// classified it (one scratch vector reused for every list), so classifying a
// value never allocates per value.
struct OutputValue {
    enum class Kind : std::uint8_t { Scalar, List, Invalid };
    Kind kind = Kind::Invalid;
    brevant::Scalar scalar{};
    std::span<const brevant::Scalar> items{};

    static OutputValue of_scalar(brevant::Scalar s) noexcept { return {Kind::Scalar, s, {}}; }
    static OutputValue of_list(std::span<const brevant::Scalar> items) noexcept { return {Kind::List, {}, items}; }
    static OutputValue invalid() noexcept { return {}; }
};

}  // namespace brevant
