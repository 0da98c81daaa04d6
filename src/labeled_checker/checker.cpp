#include "labeled_checker/checker.hpp"

#include <algorithm>

#include "labeled_checker/message.hpp"

namespace brevant::checker {
namespace {

using reader::equal_ignoring_case;

// A count of more digits than this can never be met; it stands as 10^18.
constexpr std::size_t count_digits = 18;
constexpr std::uint64_t unmeetable_count = 1'000'000'000'000'000'000;
constexpr std::size_t count_text_chars = 40;

const SchemaName& name_of(Schema schema) noexcept {
    return schema_names[schema == schema_names[0].schema ? 0 : 1];
}

const SchemaName& other_than(Schema schema) noexcept {
    return schema_names[schema == schema_names[0].schema ? 1 : 0];
}

std::string_view unquoted(std::string_view text) noexcept {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return text.substr(1, text.size() - 2);
    return text;
}

std::uint64_t count_of(std::string_view digits) noexcept {
    std::size_t lead = std::min(digits.find_first_not_of('0'), digits.size());
    digits.remove_prefix(lead);
    if (digits.size() > count_digits) return unmeetable_count;
    std::uint64_t count = 0;
    for (char c : digits) count = count * 10 + static_cast<std::uint64_t>(c - '0');
    return count;
}

}  // namespace

Checker::Checker(Rules rules, Options options)
    : rules_(rules),
      options_(options),
      splitter_(options.max_line_bytes),
      ready_(options.queue_bytes),
      held_(options.queue_bytes) {}

void Checker::feed(std::string_view chunk) { splitter_.feed(chunk, *this); }

void Checker::finish() {
    splitter_.finish(*this);
    std::uint64_t last = std::max<std::uint64_t>(lines_, 1);
    if (phase_ <= Phase::ExpectVersion) expected_header(last, Code::HeaderMissing, phase_);
    if (shot_start_) {
        // On one line, the shot's end comes before the count of a container the line opened.
        bool moved = !open_.empty() && open_.back().line == last && held_.drop_placeholder(open_.back().id);
        add(last, 1, Code::UnterminatedShot, message(Code::UnterminatedShot, {{"start", decimal(shot_start_)}}));
        if (moved) held_.push(Entry{Finding{}, open_.back().id});
        close_containers();
    } else if (shots_ == 0) {
        add(last, 1, Code::NoShots, message(Code::NoShots, {}));
    }
}

std::optional<Finding> Checker::next() {
    if (ready_.empty()) return std::nullopt;
    return ready_.pop().finding;
}

void Checker::line(std::string_view text, std::uint64_t number) {
    lines_ = number;
    Line line = split_line(text);
    std::optional<Problem> problem = record_problem(line, rules_);
    if (problem) add(number, problem->column, problem->code, std::move(problem->message));
    if (phase_ <= Phase::ExpectVersion && line.kind != RecordKind::Start) {
        header(number, &line, problem.has_value());
    } else {
        place(number, line);
    }
}

void Checker::overlong_ended(std::uint64_t number, std::uint64_t length) {
    lines_ = number;
    add(number, 1, Code::LineTooLong,
        message(Code::LineTooLong, {{"length", decimal(length)}, {"limit", decimal(options_.max_line_bytes)}}));
    // What the line held is not known, so it is neither a header nor a record out of place.
    if (phase_ <= Phase::ExpectVersion) header(number, nullptr, true);
}

void Checker::add(std::uint64_t line, std::uint64_t column, Code code, std::string text) {
    if (!within_limit(code)) return;
    (open_.empty() ? ready_ : held_).push(Entry{Finding{line, column, code, std::move(text)}});
}

bool Checker::within_limit(Code code) noexcept {
    auto at = static_cast<std::size_t>(code);
    if (!options_.per_code || seen_[at]++ < options_.per_code) return true;
    ++omitted_[at];
    return false;
}

// One of the two leading lines, which must name the schema and the version.
void Checker::header(std::uint64_t number, const Line* line, bool had_problem) {
    Phase expected = phase_;
    phase_ = static_cast<Phase>(static_cast<int>(phase_) + 1);
    if (!line) return;
    if (line->kind != RecordKind::Header) {
        expected_header(number, Code::HeaderMissing, expected);
        if (line->kind) place(number, *line);
        return;
    }
    if (had_problem) return;
    std::string_view name = line->text(1), value = line->text(2);
    bool names_id = equal_ignoring_case(name, schema_id_header);
    bool names_version = equal_ignoring_case(name, schema_version_header);
    if (expected == Phase::ExpectId && names_version) {
        expected_header(number, Code::HeaderMissing, Phase::ExpectId);
        expected = Phase::ExpectVersion;
        phase_ = Phase::Preamble;
    }
    if (expected == Phase::ExpectId && names_id && equal_ignoring_case(value, other_than(rules_.schema).name)) {
        add(number, line->fields[2].column, Code::SchemaMismatch,
            message(Code::SchemaMismatch, {{"found", shown(value)}, {"schema", name_of(rules_.schema).name}}));
    } else if (expected == Phase::ExpectId && !(names_id && equal_ignoring_case(value, name_of(rules_.schema).name))) {
        expected_header(number, Code::HeaderWrong, expected, line);
    } else if (expected == Phase::ExpectVersion && !names_version) {
        expected_header(number, Code::HeaderWrong, expected, line);
    } else if (expected == Phase::ExpectVersion && unquoted(value) != rules_.version.name) {
        add(number, line->fields[2].column, Code::VersionMismatch,
            message(Code::VersionMismatch, {{"found", shown(value)}, {"version", rules_.version.name}}));
    }
}

void Checker::expected_header(std::uint64_t number, Code code, Phase phase, const Line* line) {
    std::string wanted = phase == Phase::ExpectId ? std::string(schema_id_header) + " " + std::string(name_of(rules_.schema).name)
                                                  : std::string(schema_version_header) + " " + std::string(rules_.version.name);
    std::string found;
    std::uint64_t column = 1;
    if (line) {
        column = line->fields[1].column;
        for (std::size_t i = 1; i < std::min(line->count, Line::kept); ++i) {
            if (i > 1) found += ' ';
            found += shown(line->text(i));
        }
    }
    add(number, column, code, message(code, {{"expected", wanted}, {"found", found}}));
}

// Where a record stands among headers, shots and containers.
void Checker::place(std::uint64_t number, const Line& line) {
    if (!line.kind) return;
    switch (*line.kind) {
        case RecordKind::Start:
            if (phase_ <= Phase::ExpectVersion) expected_header(number, Code::HeaderMissing, phase_);
            if (shot_start_) {
                add(number, 1, Code::StartInShot, message(Code::StartInShot, {{"start", decimal(shot_start_)}}));
                close_containers();
            }
            phase_ = Phase::Shots;
            shot_start_ = number;
            uncounted_ = false;
            return;
        case RecordKind::Header:
            if (phase_ == Phase::Shots) add(number, 1, Code::HeaderAfterShot, message(Code::HeaderAfterShot, {}));
            return;
        default:
            break;
    }
    if (!shot_start_) {
        Code code = *line.kind == RecordKind::Metadata ? Code::MetadataOutsideShot
                    : *line.kind == RecordKind::Output ? Code::OutputOutsideShot
                                                       : Code::EndOutsideShot;
        add(number, 1, code, message(code, {}));
    } else if (*line.kind == RecordKind::Output) {
        element(number, line);
    } else if (*line.kind == RecordKind::End) {
        close_containers();
        shot_start_ = 0;
        ++shots_;
        uncounted_ = false;
    }
}

// An OUTPUT record in a shot: an element of the innermost open container,
// and perhaps a container itself.
void Checker::element(std::uint64_t number, const Line& line) {
    take_element(number, line);
    if (uncounted_ || line.count <= 2) return;
    std::optional<QirType> type = reader::qir_type_named(line.text(1));
    if (type != QirType::Array && type != QirType::Tuple) return;
    const reader::Field& value = line.fields[2];
    if (!is_count(value.text)) return;
    std::uint64_t count = count_of(value.text);
    if (!count) {
        if (rules_.schema == Schema::Ordered)
            add(number, value.column, Code::EmptyContainer, message(Code::EmptyContainer, {{"type", qir_name(*type)}}));
        return;
    }
    if (open_.size() >= options_.max_nesting) {
        add(number, value.column, Code::NestingTooDeep,
            message(Code::NestingTooDeep, {{"limit", decimal(options_.max_nesting)}}));
        uncounted_ = true;
        open_.clear();
        release({});
        return;
    }
    std::uint64_t id = ++containers_;
    open_.push_back(Container{id, number, value.column, *type,
                              std::string(value.text.substr(0, count_text_chars)), count, count});
    held_.push(Entry{Finding{}, id});
}

void Checker::take_element(std::uint64_t number, const Line& line) {
    if (open_.empty()) return;
    Container& innermost = open_.back();
    if (rules_.schema == Schema::Ordered && innermost.type == QirType::Array) {
        std::optional<QirType> type = line.count > 1 ? reader::qir_type_named(line.text(1)) : std::nullopt;
        Item item = type == QirType::Array ? Item::Array : type == QirType::Tuple ? Item::Tuple : Item::Value;
        constexpr std::string_view names[] = {"a value", "an array", "a tuple"};
        if (!innermost.items) {
            innermost.items = item;
        } else if (item != *innermost.items) {
            add(number, line.fields[1].column, Code::MixedArray,
                message(Code::MixedArray, {{"item", names[static_cast<int>(item)]},
                                           {"first", names[static_cast<int>(*innermost.items)]}}));
        }
    }
    if (--innermost.owed) return;
    held_.drop_placeholder(innermost.id);
    open_.pop_back();
    if (open_.empty()) release({});
}

// The shot ends: every container still owed elements falls short.
void Checker::close_containers() {
    if (open_.empty()) return;
    std::vector<Entry> mismatches;
    for (const Container& c : open_)
        mismatches.push_back(Entry{Finding{c.line, c.column, Code::CountMismatch,
                                           message(Code::CountMismatch, {{"type", qir_name(c.type)},
                                                                         {"count", c.count_text},
                                                                         {"found", decimal(c.count - c.owed)}})},
                                   c.id});
    open_.clear();
    release(mismatches);
}

// No container is open any more: the held findings are settled, each
// placeholder becoming its container's finding, if it has one.
void Checker::release(const std::vector<Entry>& mismatches) {
    while (!held_.empty()) {
        Entry entry = held_.pop();
        if (!entry.container) {
            ready_.push(std::move(entry));
            continue;
        }
        for (const Entry& mismatch : mismatches) {
            if (mismatch.container == entry.container && within_limit(Code::CountMismatch))
                ready_.push(Entry{mismatch.finding});
        }
    }
}

}  // namespace brevant::checker
