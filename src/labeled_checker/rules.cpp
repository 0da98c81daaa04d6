#include "labeled_checker/rules.hpp"

#include "labeled_checker/message.hpp"
#include "labeled_reader/next_tab.hpp"

namespace brevant::checker {
namespace {

using reader::equal_ignoring_case;

struct Shape {
    RecordKind kind;
    std::size_t fewest, most;        // fields after the kind
    std::string_view names[2];       // what the first fields are called in messages
};

constexpr Shape labeled_shapes[] = {
    {RecordKind::Header, 2, 2, {"HEADER name", "HEADER value"}},
    {RecordKind::Start, 0, 0, {}},
    {RecordKind::Metadata, 1, 2, {"METADATA key", "METADATA value"}},
    {RecordKind::Output, 3, 3, {}},
    {RecordKind::End, 1, 1, {}},
};

const Shape& shape_of(RecordKind kind) noexcept {
    for (const Shape& shape : labeled_shapes)
        if (shape.kind == kind) return shape;
    return labeled_shapes[0];
}

// An ordered OUTPUT record has no label.
std::size_t output_fields(Schema schema) noexcept { return schema == Schema::Ordered ? 2 : 3; }

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

std::size_t digits_at(std::string_view text, std::size_t at) noexcept {
    std::size_t end = at;
    while (end < text.size() && is_digit(text[end])) ++end;
    return end - at;
}

std::string_view without_sign(std::string_view text) noexcept {
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) text.remove_prefix(1);
    return text;
}

bool is_integer(std::string_view text) noexcept { return is_count(without_sign(text)); }

// [sign] (inf / infinity / nan / (1*DIGIT / *DIGIT "." 1*DIGIT) ["e" [sign] 1*DIGIT])
bool is_double(std::string_view text) noexcept {
    std::string_view body = without_sign(text);
    if (equal_ignoring_case(body, "INF") || equal_ignoring_case(body, "INFINITY") || equal_ignoring_case(body, "NAN"))
        return true;
    std::size_t at = digits_at(body, 0);
    if (at < body.size() && body[at] == '.') {
        std::size_t fraction = digits_at(body, at + 1);
        if (fraction == 0) return false;
        at += 1 + fraction;
    } else if (at == 0) {
        return false;
    }
    if (at == body.size()) return true;
    if (body[at] != 'e' && body[at] != 'E') return false;
    std::string_view exponent = without_sign(body.substr(at + 1));
    return is_count(exponent);
}

bool is_bits(std::string_view text) noexcept {
    for (char c : text)
        if (c != '0' && c != '1') return false;
    return true;
}

bool is_printable(char c) noexcept { return static_cast<unsigned char>(c - 0x20) < 0x5F; }

// field = DQUOTE *TEXTDATA DQUOTE / *TEXTDATA, where TEXTDATA is printable ASCII but '"'.
std::optional<Problem> text_problem(std::string_view what, const reader::Field& field) {
    std::string_view text = field.text;
    std::size_t quote = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!is_printable(text[i]))
            return Problem{Code::NonPrintable, field.column + i,
                           message(Code::NonPrintable, {{"what", what},
                                                        {"char", character_name(&text[i], text.data() + text.size())}})};
        if (text[i] == '"' && quote == std::string_view::npos) quote = i;
    }
    if (quote == std::string_view::npos) return std::nullopt;
    bool enclosed = text.size() >= 2 && text.front() == '"' && text.back() == '"' &&
                    text.substr(1, text.size() - 2).find('"') == std::string_view::npos;
    if (enclosed) return std::nullopt;
    std::size_t stray = quote == 0 && text.size() >= 2 && text.back() == '"' ? text.find('"', 1) : quote;
    return Problem{Code::StrayQuote, field.column + stray, message(Code::StrayQuote, {{"what", what}})};
}

std::optional<Code> value_problem(QirType type, std::string_view value) noexcept {
    switch (type) {
        case QirType::Result:
            return value.size() == 1 && (value[0] == '0' || value[0] == '1') ? std::nullopt
                                                                            : std::optional(Code::ResultNotBit);
        case QirType::ResultArray:
            if (value.empty()) return Code::EmptyResultArray;
            return is_bits(value) ? std::nullopt : std::optional(Code::ResultArrayNotBits);
        case QirType::Bool:
            return equal_ignoring_case(value, "TRUE") || equal_ignoring_case(value, "FALSE")
                       ? std::nullopt
                       : std::optional(Code::BadBool);
        case QirType::Int:
            if (is_integer(value)) return std::nullopt;
            return is_double(value) ? Code::IntAsFloat : Code::BadInt;
        case QirType::Double:
            return is_double(value) ? std::nullopt : std::optional(Code::BadDouble);
        case QirType::Array:
        case QirType::Tuple:
            return is_count(value) ? std::nullopt : std::optional(Code::BadCount);
    }
    return std::nullopt;
}

std::optional<Problem> output_problem(const Line& line, const Rules& rules) {
    const reader::Field& type_field = line.fields[1];
    const reader::Field& value = line.fields[2];
    std::optional<QirType> type = reader::qir_type_named(type_field.text);
    if (!type || (*type == QirType::ResultArray && !rules.version.result_array))
        return Problem{Code::UnknownOutputType, type_field.column,
                       message(Code::UnknownOutputType, {{"type", shown(type_field.text)}, {"version", rules.version.name}})};
    std::optional<Code> code;
    if (!value.text.empty() && value.text[0] == '[') {
        code = Code::ListValue;
    } else {
        code = value_problem(*type, value.text);
    }
    if (code)
        return Problem{*code, value.column,
                       message(*code, {{"type", qir_name(*type)}, {"value", shown(value.text)}})};
    if (rules.schema == Schema::Ordered) return std::nullopt;
    return text_problem("label", line.fields[3]);
}

}  // namespace

bool is_count(std::string_view text) noexcept { return !text.empty() && digits_at(text, 0) == text.size(); }

Line split_line(std::string_view text) noexcept {
    Line line;
    line.length = text.size();
    const char* begin = text.data();
    const char* end = begin + text.size();
    const char* p = begin;
    while (true) {
        const char* tab = reader::next_tab(p, end);
        if (line.count < Line::kept)
            line.fields[line.count] = {std::string_view(p, static_cast<std::size_t>(tab - p)),
                                       static_cast<std::size_t>(p - begin) + 1};
        ++line.count;
        if (tab == end) break;
        p = tab + 1;
    }
    line.kind = reader::record_kind(line.fields[0].text);
    return line;
}

std::optional<Problem> record_problem(const Line& line, const Rules& rules) {
    if (!line.kind) {
        if (line.length == 0) return Problem{Code::EmptyLine, 1, message(Code::EmptyLine, {})};
        return Problem{Code::UnknownRecord, 1, message(Code::UnknownRecord, {{"kind", shown(line.text(0))}})};
    }
    const Shape& shape = shape_of(*line.kind);
    std::size_t most = *line.kind == RecordKind::Output ? output_fields(rules.schema) : shape.most;
    std::size_t fewest = *line.kind == RecordKind::Output ? most : shape.fewest;
    std::size_t given = line.count - 1;
    if (given < fewest || given > most) {
        Code code = given > most ? Code::ExtraFields : Code::MissingFields;
        std::string expected = decimal(most);
        if (fewest != most) expected = decimal(fewest) + " or " + expected;
        std::uint64_t column = given > most ? line.fields[most + 1].column : line.length + 1;
        return Problem{code, column,
                       message(code, {{"kind", kind_name(*line.kind)},
                                      {"given", decimal(given)},
                                      {"expected", expected}})};
    }
    switch (*line.kind) {
        case RecordKind::End:
            if (line.text(1) == "0") return std::nullopt;
            return Problem{Code::EndNotZero, line.fields[1].column,
                           message(Code::EndNotZero, {{"value", shown(line.text(1))}})};
        case RecordKind::Output:
            return output_problem(line, rules);
        default:
            for (std::size_t i = 1; i < line.count; ++i)
                if (auto problem = text_problem(shape.names[i - 1], line.fields[i])) return problem;
            return std::nullopt;
    }
}

}  // namespace brevant::checker
