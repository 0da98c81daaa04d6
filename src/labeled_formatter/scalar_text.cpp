#include "labeled_formatter/scalar_text.hpp"

#define FMT_HEADER_ONLY
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace brevant {
namespace {

// The digits of n < 10^8 as eight ASCII bytes, most significant first in
// memory (little-endian), without a division per digit: the word is split
// into halves, quarters and eighths, each step on all lanes at once.
std::uint64_t eight_digits(std::uint32_t n) {
    std::uint64_t v = (n / 10000) | (std::uint64_t{n % 10000} << 32);
    const std::uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007F;  // lane / 100, lanes < 10^4
    v = hundreds | ((v - hundreds * 100) << 16);
    const std::uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000F;  // lane / 10, lanes < 100
    v = tens | ((v - tens * 10) << 8);
    return v + 0x3030303030303030;
}

// Shortest digits have at most 17. They are kept left-aligned, as the 17
// digits of significand * 10^(17 - count), in registers: the renderer only
// stores, never reads back what it just wrote (a load that spans several
// recent stores stalls until they retire).
constexpr int max_digits = 17;

constexpr auto powers_of_10 = [] {
    std::array<std::uint64_t, max_digits + 1> powers{};
    std::uint64_t power = 1;
    for (auto& p : powers) {
        p = power;
        power *= 10;
    }
    return powers;
}();

struct LeftAligned {
    char first;
    std::uint64_t second_to_ninth;
    std::uint64_t tenth_to_seventeenth;
};

LeftAligned left_aligned(std::uint64_t significand, int count) {
    const std::uint64_t n = significand * powers_of_10[max_digits - count];
    return {static_cast<char>('0' + n / powers_of_10[16]),
            eight_digits(static_cast<std::uint32_t>(n / powers_of_10[8] % powers_of_10[8])),
            eight_digits(static_cast<std::uint32_t>(n % powers_of_10[8]))};
}

void store(char* to, const LeftAligned& digits) {
    static_assert(std::endian::native == std::endian::little);
    to[0] = digits.first;
    std::memcpy(to + 1, &digits.second_to_ninth, 8);
    std::memcpy(to + 9, &digits.tenth_to_seventeenth, 8);
}

// The 17 digits as 18 bytes with a point after the first `after` of them,
// 1 <= after <= 17 (after all 17, the point is the 18th byte). Composed in a
// 128-bit register, so where the point goes costs no branch.
void store_with_point(char* to, const LeftAligned& digits, int after) {
    using u128 = unsigned __int128;
    const u128 rest = digits.second_to_ninth | (u128{digits.tenth_to_seventeenth} << 64);
    const int shift = 8 * std::min(after - 1, 15);
    const u128 before = (u128{1} << shift) - 1;
    const u128 inserted = (rest & before) | (u128{'.'} << shift) | ((rest & ~before) << 8);
    const bool at_end = after == max_digits;
    const u128 text = at_end ? rest : inserted;
    to[0] = digits.first;
    std::memcpy(to + 1, &text, 16);
    to[17] = at_end ? '.' : static_cast<char>(digits.tenth_to_seventeenth >> 56);
}

constexpr char zeros[] = "0000000000000000";

// Points in this range are laid out by one sequence of stores (below).
constexpr int fast_min_point = -30;
constexpr int fast_max_point = 16;

}  // namespace

char* write_double_text(char* p, double value) {
    if (std::isnan(value)) return copy_short(p, "nan", 3);
    if (std::signbit(value)) *p++ = '-';
    if (std::isinf(value)) return copy_short(p, "inf", 3);
    // Shortest round-trip digits as an integer and a power of ten (zero gives
    // {0, 0}); the layout below is positional, never an exponent.
    const auto decimal = fmt::detail::dragonbox::to_decimal(std::fabs(value));
    const int count = fmt::detail::count_digits(decimal.significand);
    if (count > max_digits) __builtin_unreachable();  // significands are below 10^17
    const LeftAligned digits = left_aligned(decimal.significand, count);
    // Where the decimal point falls, counted in digits from the first one.
    const int point = count + decimal.exponent;

    if (point >= fast_min_point && point <= fast_max_point) {
        // Values below one and the rest take the same stores, so magnitudes
        // that alternate at random mispredict nothing: "0." and zeros first,
        // then the digits over them, either after "0." and -point zeros (with
        // the point past their end, unused) or from the start with the point
        // after `point` digits (their trailing zeros make "ddd00.0").
        std::memcpy(p, "0.00000000000000", 16);
        std::memcpy(p + 16, zeros, 16);
        const bool below_one = point <= 0;
        char* const start = below_one ? p + 2 - point : p;
        store_with_point(start, digits, below_one ? max_digits : point);
        return below_one ? start + count : p + std::max(count, point + 1) + 1;
    }
    if (point < 0) {
        const auto lead = static_cast<std::size_t>(2 - point);
        std::memcpy(p, "0.", 2);
        std::memset(p + 2, '0', lead - 2);
        store(p + lead, digits);
        return p + lead + count;
    }
    // Integral, with at least 17 digits before the point.
    store(p, digits);
    std::memset(p + max_digits, '0', static_cast<std::size_t>(point - max_digits));
    std::memcpy(p + point, ".0", 2);
    return p + point + 2;
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
