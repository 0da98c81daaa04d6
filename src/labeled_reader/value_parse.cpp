#include "labeled_reader/value_parse.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "labeled_reader/decimal_double.hpp"
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
    const std::optional<double> value = decimal_double(body);
    if (!value) return std::nullopt;
    return negative ? -*value : *value;
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
