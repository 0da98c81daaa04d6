#include "labeled_formatter/scalar_text.hpp"

// Żmij is compiled as part of this file rather than on its own: its
// to_decimal is defined inline in its source, and its writer then inlines
// into ours.
#include <zmij.cc>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace brevant {
namespace {

constexpr std::uint64_t sign_bit = std::uint64_t{1} << 63;
constexpr std::uint64_t infinity_bits = std::bit_cast<std::uint64_t>(std::numeric_limits<double>::infinity());

// Magnitudes in [1e-4, 1e16) are the ones Żmij writes positionally, with the
// same digits and layout as ours but no ".0" after a whole value. They are
// one unsigned range of bit patterns.
constexpr std::uint64_t positional_low = std::bit_cast<std::uint64_t>(1e-4);
constexpr std::uint64_t positional_span = std::bit_cast<std::uint64_t>(1e16) - positional_low;

constexpr std::uint64_t ascii_zeros = 0x3030303030303030;

// The digits of n < 10^8 as eight ASCII bytes, most significant first in
// memory (little-endian), without a division per digit: each step splits
// every lane of the word in two at once, the quotient staying in the low half
// (x * 2^k - q * (d * 2^k - 1) is the quotient beside the remainder, in one
// multiply and subtract).
std::uint64_t eight_digits(std::uint64_t n) {
    const std::uint64_t ten_thousands = (n * 109'951'163) >> 40;  // n / 10^4
    std::uint64_t v = (n << 32) - ten_thousands * ((std::uint64_t{10'000} << 32) - 1);
    const std::uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007F;  // lane / 100, lanes < 10^4
    v = (v << 16) - hundreds * ((100 << 16) - 1);
    const std::uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000F;  // lane / 10, lanes < 100
    v = (v << 8) - tens * ((10 << 8) - 1);
    return v + ascii_zeros;
}

// A significand below 10^17 as 17 ASCII digits, with leading zeros if it has
// fewer, and its trailing zeros.
struct SeventeenDigits {
    char first;
    std::uint64_t second_to_ninth;
    std::uint64_t tenth_to_seventeenth;

    explicit SeventeenDigits(std::uint64_t n)
        : first(static_cast<char>('0' + n / 10'000'000'000'000'000)),
          second_to_ninth(eight_digits(n / 100'000'000 % 100'000'000)),
          tenth_to_seventeenth(eight_digits(n % 100'000'000)) {}

    void store(char* to) const {
        static_assert(std::endian::native == std::endian::little);
        to[0] = first;
        std::memcpy(to + 1, &second_to_ninth, 8);
        std::memcpy(to + 9, &tenth_to_seventeenth, 8);
    }

    // The count of digits up to the last that is not '0', found in the words
    // still in registers rather than by reading the stored text back.
    int significant() const {
        const std::uint64_t tail = tenth_to_seventeenth ^ ascii_zeros;
        const std::uint64_t middle = second_to_ninth ^ ascii_zeros;
        if (tail != 0) return 10 + (63 - std::countl_zero(tail)) / 8;
        if (middle != 0) return 2 + (63 - std::countl_zero(middle)) / 8;
        return 1;
    }
};

// Zero, below 1e-4 and from 1e16 up: Żmij's digits, laid out here. Kept out
// of line so that the common path saves no registers for it.
BREVANT_NOINLINE char* write_outside_positional(char* p, double value) {
    if (std::signbit(value)) *p++ = '-';
    if (value == 0) return copy_short(p, "0.0", 3);
    const zmij::dec_fp decimal = zmij::to_decimal(value);
    auto significand = static_cast<std::uint64_t>(decimal.sig);
    int exponent = decimal.exp;
    if (std::fabs(value) < 1) {
        // "0.", zeros, then the digits; the leading zeros of a short
        // significand land on zeros already written. Down to about 1e-30 the
        // zeros are two fixed stores.
        const SeventeenDigits digits(significand);
        const int lead = 2 - (17 + exponent);
        if (lead <= 32) {
            std::memcpy(p, "0.00000000000000", 16);
            std::memset(p + 16, '0', 16);
        } else {
            std::memcpy(p, "0.", 2);
            std::memset(p + 2, '0', static_cast<std::size_t>(lead - 2));
        }
        digits.store(p + lead);
        return p + lead + digits.significant();
    }
    // Whole: the digits, zeros up to the point, ".0".
    for (; significand < 10'000'000'000'000'000; --exponent) significand *= 10;
    SeventeenDigits(significand).store(p);
    std::memset(p + 17, '0', static_cast<std::size_t>(exponent));
    std::memcpy(p + 17 + exponent, ".0", 2);
    return p + 17 + exponent + 2;
}

}  // namespace

BREVANT_FLATTEN char* write_double_text(char* p, double value) {
    const std::uint64_t magnitude = std::bit_cast<std::uint64_t>(value) & ~sign_bit;
    if (magnitude - positional_low < positional_span) [[likely]] {
        // Below 1e16 the round trip through an integer is exact.
        const bool whole = static_cast<double>(static_cast<std::int64_t>(value)) == value;
        char* const end = zmij::write(p, zmij::double_buffer_size, value);
        std::memcpy(end, ".0", 2);
        return end + (whole ? 2 : 0);
    }
    if (magnitude > infinity_bits) return copy_short(p, "nan", 3);
    if (magnitude == infinity_bits) {
        if (value < 0) *p++ = '-';
        return copy_short(p, "inf", 3);
    }
    return write_outside_positional(p, value);
}

void double_text(TextBuffer& out, double value) {
    char* begin = out.reserve(max_scalar_text);
    out.advance(write_double_text(begin, value) - begin);
}

void scalar_text(TextBuffer& out, Scalar value) {
    char* begin = out.reserve(max_scalar_text);
    out.advance(write_scalar_text(begin, value) - begin);
}

}  // namespace brevant
