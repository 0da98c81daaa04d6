#pragma once
// What the checker reports: where a document departs from its schema, under
// a stable code, with a message.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

namespace brevant::checker {

enum class Code : std::uint8_t {
    EmptyLine,
    UnknownRecord,
    ExtraFields,
    MissingFields,
    NonPrintable,
    StrayQuote,
    UnknownOutputType,
    ListValue,
    ResultNotBit,
    EmptyResultArray,
    ResultArrayNotBits,
    BadBool,
    IntAsFloat,
    BadInt,
    BadDouble,
    BadCount,
    CountMismatch,
    EndNotZero,
    HeaderMissing,
    HeaderWrong,
    SchemaMismatch,
    VersionMismatch,
    HeaderAfterShot,
    MetadataOutsideShot,
    OutputOutsideShot,
    EndOutsideShot,
    StartInShot,
    UnterminatedShot,
    NoShots,
    LineTooLong,
    NestingTooDeep,
    EmptyContainer,
    MixedArray,
};

struct CodeText {
    Code code;
    std::string_view name;     // what callers match on
    std::string_view message;  // {name} stands for a detail of the finding
};

inline constexpr CodeText code_texts[] = {
    {Code::EmptyLine, "empty-line", "empty line; every line must hold a record"},
    {Code::UnknownRecord, "unknown-record", "record of unknown kind {kind}"},
    {Code::ExtraFields, "extra-fields", "{kind} record has {given} fields after its kind, expected {expected}"},
    {Code::MissingFields, "missing-fields", "{kind} record has {given} fields after its kind, expected {expected}"},
    {Code::NonPrintable, "non-printable", "{what} holds {char}, outside printable ASCII"},
    {Code::StrayQuote, "stray-quote", "{what} holds a double quote that does not enclose it"},
    {Code::UnknownOutputType, "unknown-output-type", "OUTPUT type {type} is not in schema version {version}"},
    {Code::ListValue, "list-value",
     "{type} value {value} is a list; a container is an ARRAY or TUPLE record followed by its element records"},
    {Code::ResultNotBit, "result-not-bit", "RESULT value {value} is not 0 or 1"},
    {Code::EmptyResultArray, "empty-result-array", "RESULT_ARRAY value is empty; it needs at least one bit"},
    {Code::ResultArrayNotBits, "result-array-not-bits", "RESULT_ARRAY value {value} is not a string of 0s and 1s"},
    {Code::BadBool, "bad-bool", "BOOL value {value} is not true or false"},
    {Code::IntAsFloat, "int-as-float", "INT value {value} is written as a floating-point number"},
    {Code::BadInt, "bad-int", "INT value {value} is not a decimal integer"},
    {Code::BadDouble, "bad-double", "DOUBLE value {value} is not a decimal number, inf, infinity or nan"},
    {Code::BadCount, "bad-count", "{type} count {value} is not a decimal number of elements"},
    {Code::CountMismatch, "count-mismatch", "{type} count {count}, but only {found} element records follow in its shot"},
    {Code::EndNotZero, "end-not-zero", "END exit code {value} is not 0"},
    {Code::HeaderMissing, "header-missing", "expected HEADER {expected} here"},
    {Code::HeaderWrong, "header-wrong", "expected HEADER {expected}, found HEADER {found}"},
    {Code::SchemaMismatch, "schema-mismatch", "document declares schema {found}, checked as {schema}"},
    {Code::VersionMismatch, "version-mismatch", "document declares schema version {found}, checked against {version}"},
    {Code::HeaderAfterShot, "header-after-shot", "HEADER after the first START"},
    {Code::MetadataOutsideShot, "metadata-outside-shot", "METADATA outside a shot (not between START and END)"},
    {Code::OutputOutsideShot, "output-outside-shot", "OUTPUT outside a shot (not between START and END)"},
    {Code::EndOutsideShot, "end-outside-shot", "END with no START open"},
    {Code::StartInShot, "start-in-shot", "START inside the shot opened on line {start}"},
    {Code::UnterminatedShot, "unterminated-shot", "document ends inside the shot opened on line {start}"},
    {Code::NoShots, "no-shots", "document holds no complete shot"},
    {Code::LineTooLong, "line-too-long", "line of {length} characters, longer than {limit}; not checked"},
    {Code::NestingTooDeep, "nesting-too-deep",
     "containers nested more than {limit} deep; the counts in this shot are not checked"},
    {Code::EmptyContainer, "empty-container", "{type} count 0; an ordered container holds at least one element"},
    {Code::MixedArray, "mixed-array",
     "ARRAY element is {item} after {first}; an ordered array's elements are all values, all arrays or all tuples"},
};

inline constexpr std::size_t code_count = std::size(code_texts);

consteval bool codes_in_order() {
    for (std::size_t i = 0; i < code_count; ++i)
        if (static_cast<std::size_t>(code_texts[i].code) != i) return false;
    return true;
}
static_assert(codes_in_order(), "code_texts is indexed by Code");

constexpr const CodeText& text_of(Code code) noexcept { return code_texts[static_cast<std::size_t>(code)]; }

struct Finding {
    std::uint64_t line;    // 1-based
    std::uint64_t column;  // 1-based byte offset in the line
    Code code;
    std::string message;
};

}  // namespace brevant::checker
