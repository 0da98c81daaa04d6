#include "labeled_reader/decimal_double.hpp"

#include <charconv>
#include <cstdint>
#include <version>

// Where the C++ library has no from_chars for doubles (libc++ before 20, as
// Apple's is), strtod reads them. BREVANT_DOUBLES_BY_STRTOD takes that way
// anywhere, so that it is tested beside the usual one.
#if !defined(__cpp_lib_to_chars) || defined(BREVANT_DOUBLES_BY_STRTOD)
#define BREVANT_STRTOD 1
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#if defined(__APPLE__)
#include <xlocale.h>
#endif
#else
#include <algorithm>
#include <cmath>
#include <system_error>
#endif

namespace brevant::reader {
namespace {

#if BREVANT_STRTOD

// What from_chars takes and strtod takes alike: digits, a point, an exponent
// and its sign. (strtod would also read hexadecimal, "inf" and spaces.)
bool decimal_characters(std::string_view text) noexcept {
    if (text.empty() || !((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) return false;
    return text.find_first_not_of("0123456789.eE+-") == std::string_view::npos;
}

std::optional<double> read_decimal(std::string_view text) noexcept {
    if (!decimal_characters(text)) return std::nullopt;
    // Under the "C" locale the point is '.', whatever the process has set.
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    if (!c_locale) return std::nullopt;
    char small[128];
    std::string large;
    const char* terminated = small;
    if (text.size() < sizeof small) {
        std::memcpy(small, text.data(), text.size());
        small[text.size()] = '\0';
    } else {
        try {
            large.assign(text);
        } catch (...) {
            return std::nullopt;
        }
        terminated = large.c_str();
    }
    char* end = nullptr;
    // Beyond the range strtod gives infinity or zero already, and a subnormal
    // its value; errno says no more than that.
    const double value = strtod_l(terminated, &end, c_locale);
    if (end != terminated + text.size()) return std::nullopt;
    return value;
}

#else

// from_chars leaves the value alone when the text lies beyond a double's
// range: it then stands for an infinity (too large) or a zero (too small).
// The place of its first significant digit tells which; strtod would too, but
// it reads the point by the process's locale.
double out_of_range_value(std::string_view body) noexcept {
    std::size_t e = body.find_first_of("eE");
    std::int64_t exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view text = body.substr(e + 1);
        bool minus = !text.empty() && text[0] == '-';
        if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
        auto [stop, ec] = std::from_chars(text.data(), text.data() + text.size(), exponent);
        if (ec == std::errc::result_out_of_range) exponent = std::int64_t{1} << 40;  // beyond any digit count
        if (minus) exponent = -exponent;
        body = body.substr(0, e);
    }
    std::size_t point = std::min(body.find('.'), body.size());
    std::string_view whole = body.substr(0, point);
    std::int64_t place;
    if (std::size_t lead = whole.find_first_not_of('0'); lead != std::string_view::npos) {
        place = static_cast<std::int64_t>(whole.size() - lead);
    } else {
        std::string_view fraction = body.substr(std::min(point + 1, body.size()));
        std::size_t zeros = fraction.find_first_not_of('0');
        if (zeros == std::string_view::npos) return 0.0;
        place = -static_cast<std::int64_t>(zeros);
    }
    return place + exponent > 0 ? HUGE_VAL : 0.0;
}

std::optional<double> read_decimal(std::string_view text) noexcept {
    // Decimal text only: from_chars would also take "nan(...)" and the like.
    if (text.empty() || !((text[0] >= '0' && text[0] <= '9') || text[0] == '.')) return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (end != text.data() + text.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) return out_of_range_value(text);
    if (ec != std::errc()) return std::nullopt;
    return value;
}

#endif

}  // namespace

std::optional<double> decimal_double(std::string_view text) noexcept { return read_decimal(text); }

}  // namespace brevant::reader
