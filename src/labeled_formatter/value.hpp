#pragma once
// The value model: what a caller's Python value is once it has been read.

#include <cstdint>
#include <span>

#include "schema/scalar.hpp"

namespace brevant {

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
