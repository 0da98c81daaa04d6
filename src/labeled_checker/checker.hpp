#pragma once
// The checker: a document, fed in chunks split anywhere, against the strict
// rule set, with the document-level rules (headers, shots, container counts)
// on top. Findings come out in line order, and memory stays bounded by the
// longest line: a container's count is settled only when it fills or its
// shot ends, so the findings after an open container wait (on disk, past a
// fixed amount of memory), while a finding the per-code limit leaves out is
// only counted.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "labeled_checker/finding_queue.hpp"
#include "labeled_checker/rules.hpp"
#include "schema/limits.hpp"
#include "labeled_reader/line_splitter.hpp"

namespace brevant::checker {

struct Options {
    std::size_t max_line_bytes = Limits{}.max_line_bytes;
    std::uint64_t per_code = 0;  // findings handed out per code; 0 for all of them
    std::uint32_t max_nesting = Limits{}.max_nesting;
    std::size_t queue_bytes = std::size_t{1} << 20;  // findings held in memory per queue; more wait on disk
};

class Checker {
public:
    Checker(Rules rules, Options options);

    void feed(std::string_view chunk);
    void finish();

    // The next finding whose place in line order is settled.
    std::optional<Finding> next();
    // Findings of this code left out by the per-code limit.
    std::uint64_t omitted(Code code) const noexcept { return omitted_[static_cast<std::size_t>(code)]; }

private:
    friend class reader::LineSplitter;
    enum class Phase : std::uint8_t { ExpectId, ExpectVersion, Preamble, Shots };

    // What an element is, for the ordered schema's rule that an array's
    // elements are all of one kind.
    enum class Item : std::uint8_t { Value, Array, Tuple };

    struct Container {
        std::uint64_t id;
        std::uint64_t line;
        std::uint64_t column;
        QirType type;
        std::string count_text;
        std::uint64_t count;
        std::uint64_t owed;
        std::optional<Item> items = std::nullopt;  // the kind of its first element
    };

    // The line splitter's sink.
    void line(std::string_view text, std::uint64_t number);
    void overlong(std::uint64_t) {}
    void overlong_ended(std::uint64_t number, std::uint64_t length);

    // Whether the per-code limit lets a finding of this code out; one it keeps back is counted.
    bool within_limit(Code code) noexcept;
    void add(std::uint64_t line, std::uint64_t column, Code code, std::string message);
    void header(std::uint64_t number, const Line* line, bool had_problem);
    void expected_header(std::uint64_t number, Code code, Phase phase, const Line* line = nullptr);
    void place(std::uint64_t number, const Line& line);
    void element(std::uint64_t number, const Line& line);
    void take_element(std::uint64_t number, const Line& line);
    void close_containers();
    void release(const std::vector<Entry>& mismatches);

    Rules rules_;
    Options options_;
    reader::LineSplitter splitter_;
    Phase phase_ = Phase::ExpectId;
    std::uint64_t lines_ = 0;
    std::uint64_t shot_start_ = 0;  // line of the open shot's START; 0 outside a shot
    std::uint64_t shots_ = 0;       // complete shots so far
    bool uncounted_ = false;        // the open shot nests too deep for its counts to be checked
    std::vector<Container> open_;   // innermost last
    std::uint64_t containers_ = 0;  // containers opened so far, for placeholder ids
    FindingQueue ready_;            // settled findings
    FindingQueue held_;             // findings after an open container, and placeholders
    std::array<std::uint64_t, code_count> seen_{};
    std::array<std::uint64_t, code_count> omitted_{};
};

}  // namespace brevant::checker
