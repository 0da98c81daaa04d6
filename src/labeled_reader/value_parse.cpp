#include "labeled_reader/value_parse.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

#include "labeled_reader/record.hpp"

namespace brevant::reader {
namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view text) noexcept {
    if (text.empty()) return false;
    for (char c : text)
        if (!is_digit(c)) return false;
    return true;
}

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

std::optional<double> parse_real(std::string_view text) noexcept {
    bool negative = false;
    std::string_view body = text;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (body.empty() || body[0] == '+' || body[0] == '-') return std::nullopt;
    if (equal_ignoring_case(body, "NAN")) return negative ? -std::nan("") : std::nan("");
    if (equal_ignoring_case(body, "INF") || equal_ignoring_case(body, "INFINITY"))
        return negative ? -HUGE_VAL : HUGE_VAL;
    // Decimal text only: from_chars would also take "nan(...)" and the like.
    if (!is_digit(body[0]) && body[0] != '.') return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (end != body.data() + body.size()) return std::nullopt;
    if (ec == std::errc::result_out_of_range) {
        value = out_of_range_value(body);
    } else if (ec != std::errc()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

}  // namespace

bool is_integer_text(std::string_view text) noexcept {
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
    return all_digits(text);
}

std::optional<Scalar> parse_scalar(std::string_view text, Within within) noexcept {
    const bool in_double = within == Within::DoubleRecord;
    if (text.size() == 1 && is_digit(text[0])) return Scalar::from_int(text[0] - '0');
    if (equal_ignoring_case(text, "TRUE")) return Scalar::from_bool(true);
    if (equal_ignoring_case(text, "FALSE")) return Scalar::from_bool(false);
    std::string_view digits = text;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
    if (all_digits(digits) && !(in_double && text == "-0")) {
        std::int64_t value = 0;
        const char* first = text[0] == '+' ? text.data() + 1 : text.data();
        auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size()) return Scalar::from_int(value);
        if (!in_double) return std::nullopt;
    }
    if (auto real = parse_real(text)) return Scalar::from_double(*real);
    return std::nullopt;
}

bool parse_list(std::string_view text, std::vector<Scalar>& out) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
    std::string_view inside = text.substr(1, text.size() - 2);
    std::size_t kept = out.size();
    auto trim = [](std::string_view s) {
        while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
        while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
        return s;
    };
    if (trim(inside).empty()) return true;
    while (true) {
        std::size_t comma = inside.find(',');
        std::optional<Scalar> item = parse_scalar(trim(inside.substr(0, comma)), Within::Other);
        if (!item) {
            out.resize(kept);
            return false;
        }
        out.push_back(*item);
        if (comma == std::string_view::npos) return true;
        inside.remove_prefix(comma + 1);
    }
}

std::optional<std::uint64_t> parse_count(std::string_view text) noexcept {
    if (!all_digits(text)) return std::nullopt;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) return UINT64_MAX;
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace brevant::reader
