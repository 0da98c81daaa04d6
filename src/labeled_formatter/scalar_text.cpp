#include "labeled_formatter/scalar_text.hpp"

#include "labeled_formatter/decimal_digits.hpp"

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

// Magnitudes in [positional_low, 1e16) take the common path, one unsigned
// range of bit patterns. Żmij's own writer lays out [1e-4, 1e16) as we do,
// but for ".0" after a whole value; the register layout below also takes
// smaller values, as long as their leading zeros fit a fixed 32-byte store.
#if ZMIJ_USE_SSE
constexpr std::uint64_t positional_low = std::bit_cast<std::uint64_t>(1e-30);
#else
constexpr std::uint64_t positional_low = std::bit_cast<std::uint64_t>(1e-4);
#endif
constexpr std::uint64_t positional_span = std::bit_cast<std::uint64_t>(1e16) - positional_low;

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

// Zero, below positional_low and from 1e16 up: Żmij's digits, laid out here. Kept out
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

#if ZMIJ_USE_SSE
// 1e-30 <= abs(value) < 1e16, from the same steps as Żmij's own writer (its
// digits come as one SSE2 register there). That writer, without SSE4.1,
// inserts the point by moving the digits in memory, and reading back bytes
// just stored stalls on every double: here the point goes in while the
// digits are still in the register (5% faster on `floats`).
BREVANT_INLINE char* write_positional(char* p, double value) {
    using traits = float_traits<double>;
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    *p = '-';
    p += bits >> 63;
    const std::uint64_t fraction = traits::get_sig(bits);
    const auto decimal = ::to_decimal<double>(fraction | traits::implicit_bit, traits::get_exp(bits), fraction != 0,
                                              static_data);
    const auto digits = ::to_digits<64>(static_cast<std::uint64_t>(decimal.sig), static_data);
    // The significand's sixteen digits start with a '0' unless it has a
    // seventeenth digit; `last` is the digit after them.
    const bool seventeen = static_cast<std::uint64_t>(decimal.sig) >= static_data.threshold;
    const char last = static_cast<char>('0' + (-decimal.has_last_digit & decimal.last_digit));
    const int count = (decimal.has_last_digit ? 16 : digits.num_digits - 1) + seventeen;
    const int leading_exponent = decimal.exp + 15 + seventeen;
    const __m128i sixteen =
        seventeen ? digits.digits
                  : _mm_or_si128(_mm_srli_si128(digits.digits, 1), _mm_slli_si128(_mm_cvtsi32_si128(last), 15));
    const char after_sixteen = seventeen ? last : '0';
    if (leading_exponent < 0) {
        // Down to 1e-30 the digits start within the first 32 bytes.
        const int start = 1 - leading_exponent;
        std::memcpy(p, "0.00000000000000", 16);
        std::memcpy(p + 16, "0000000000000000", 16);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + start), sixteen);
        p[start + 16] = after_sixteen;
        return p + start + count;
    }
    // Digits before the point where the index is below it, the point at its
    // index, and after it the digits shifted up by one byte.
    const int point = leading_exponent + 1;
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i at_point = _mm_set1_epi8(static_cast<char>(point));
    const __m128i before = _mm_cmpgt_epi8(at_point, index);
    const __m128i is_point = _mm_cmpeq_epi8(at_point, index);
    const __m128i after = _mm_andnot_si128(_mm_or_si128(before, is_point), _mm_slli_si128(sixteen, 1));
    const __m128i text = _mm_or_si128(_mm_or_si128(_mm_and_si128(before, sixteen), after),
                                      _mm_and_si128(is_point, _mm_set1_epi8('.')));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), text);
    p[16] = point < 16 ? static_cast<char>(_mm_extract_epi16(sixteen, 7) >> 8) : '.';
    p[17] = after_sixteen;
    // A whole value already reads "<digits>.0": the byte after the point is
    // a zero digit.
    return count <= point ? p + point + 2 : p + count + 1;
}
#else
BREVANT_INLINE char* write_positional(char* p, double value) {
    // Below 1e16 the round trip through an integer is exact.
    const bool whole = static_cast<double>(static_cast<std::int64_t>(value)) == value;
    char* const end = zmij::write(p, zmij::double_buffer_size, value);
    std::memcpy(end, ".0", 2);
    return end + (whole ? 2 : 0);
}
#endif

}  // namespace

BREVANT_FLATTEN char* write_double_text(char* p, double value) {
    const std::uint64_t magnitude = std::bit_cast<std::uint64_t>(value) & ~sign_bit;
    if (magnitude - positional_low < positional_span) [[likely]] return write_positional(p, value);
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
