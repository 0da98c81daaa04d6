#pragma once
// The strict rule set for one record, wherever it stands: the grammar's
// shapes, field texts and values, with every literal matched in either
// letter case. The reader splits lines and fields the same way but takes
// what it can; here each departure is named.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "labeled_checker/finding.hpp"
#include "labeled_reader/record.hpp"

namespace brevant::checker {

enum class Schema : std::uint8_t { Labeled, Ordered };

struct SchemaName {
    Schema schema;
    std::string_view name;  // as the schema_id header, Python callers and the CLI spell it
};
inline constexpr SchemaName schema_names[] = {{Schema::Labeled, labeled_schema}, {Schema::Ordered, ordered_schema}};

struct Version {
    std::string_view name;
    bool result_array;  // whether the version has the RESULT_ARRAY type
};
inline constexpr Version versions[] = {{"1.0", false}, {"2.0", false}, {"2.1", true}};

struct Rules {
    Schema schema;
    Version version;
};

// A line cut at every TAB: the kind, and the fields after it.
struct Line {
    static constexpr std::size_t kept = 5;
    std::array<reader::Field, kept> fields;  // the first ones; fields[0] is the kind
    std::size_t count = 0;                   // all of them, the kind included
    std::size_t length = 0;
    std::optional<RecordKind> kind;

    std::string_view text(std::size_t i) const noexcept { return fields[i].text; }
};

Line split_line(std::string_view text) noexcept;

struct Problem {
    Code code;
    std::uint64_t column;
    std::string message;
};

// The first departure within the record.
std::optional<Problem> record_problem(const Line& line, const Rules& rules);

bool is_count(std::string_view text) noexcept;

}  // namespace brevant::checker
