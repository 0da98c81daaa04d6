#pragma once
// Decimal text as a double, the same on every platform and in every locale.

#include <optional>
#include <string_view>

namespace brevant::reader {

// The double nearest to an unsigned decimal number ("12", "1.5e-3", ".5",
// "1."), infinity or zero beyond a double's range; absent unless the whole
// text is such a number.
std::optional<double> decimal_double(std::string_view text) noexcept;

}  // namespace brevant::reader
