#pragma once

#include <cstddef>
#include <cstring>

#include "common/compiler.hpp"

namespace brevant {

// Copies of a few bytes, as tags and digits are, without a call: two possibly
// overlapping moves that read nothing outside [from, from + n).
BREVANT_INLINE char* copy_short(char* to, const char* from, std::size_t n) {
    if (n >= 8) {
        if (n > 16) {
            std::memcpy(to, from, n);
            return to + n;
        }
        std::memcpy(to, from, 8);
        std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n > 0) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
    return to + n;
}

}  // namespace brevant
