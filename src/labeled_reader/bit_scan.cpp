#include "labeled_reader/bit_scan.hpp"

#include <algorithm>
#include <cstring>
#include <utility>
#include <unordered_map>

#include "schema/limits.hpp"
#include "schema/records.hpp"
#include "schema/scalar.hpp"

namespace brevant::reader {
namespace {

// The fixed records as lines, without their LF.
constexpr std::string_view line_of(std::string_view record) { return record.substr(0, record.size() - 1); }
// A loop, not string_view::find: GCC cannot evaluate find as a constant in a sanitizer build.
constexpr std::size_t first_line_length(std::string_view text) {
    std::size_t length = 0;
    while (text[length] != line_feed) ++length;
    return length;
}
constexpr std::string_view schema_id_line = results_header_text.substr(0, first_line_length(results_header_text));
constexpr std::string_view schema_version_line = line_of(results_header_text.substr(schema_id_line.size() + 1));
constexpr std::string_view start_line = line_of(shot_start_text);
constexpr std::string_view end_line = line_of(shot_end_text);
constexpr std::string_view result_prefix = output_prefix<QirType::Result>.view();
// Labels beyond this many are left to the general reader and its bounds.
constexpr std::size_t max_quick_labels = std::size_t{1} << 16;

// Printable ASCII, which holds no tab and no line end: a field the general
// reader takes as it is.
bool plain_field(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7e; });
}

// "OUTPUT\tRESULT\t<0 or 1>\t<label>": the bit, or -1.
int result_bit(std::string_view text) {
    if (text.size() < result_prefix.size() + 2 || std::memcmp(text.data(), result_prefix.data(), result_prefix.size()) != 0)
        return -1;
    const char bit = text[result_prefix.size()];
    if (!is_bit_char(bit) || text[result_prefix.size() + 1] != field_separator) return -1;
    return bit - '0';
}

}  // namespace

BitScan::BitScan(std::vector<std::string> chosen, bool choose, bool reversed)
    : choose_(choose), reversed_(reversed), chosen_(std::move(chosen)) {
    // A label chosen twice is the general reader's case.
    std::unordered_set<std::string_view> distinct(chosen_.begin(), chosen_.end());
    stopped_ = distinct.size() != chosen_.size();
}

bool BitScan::feed(std::string_view chunk) {
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    const std::size_t max_line = Limits{}.max_line_bytes;
    if (!carry_.empty()) {
        const char* eol = static_cast<const char*>(std::memchr(p, line_feed, chunk.size()));
        carry_.append(p, eol ? eol : end);
        if (carry_.size() > max_line) stopped_ = true;
        if (!eol || stopped_) return !stopped_;
        line(carry_);
        carry_.clear();
        p = eol + 1;
    }
    constexpr std::size_t bit_at = result_prefix.size();
    while (p != end && !stopped_) {
        if (state_ == State::Shot && next_ < records_.size()) {
            const std::string& record = records_[next_];
            const std::size_t size = record.size();
            if (static_cast<std::size_t>(end - p) >= size && is_bit_char(p[bit_at]) &&
                std::memcmp(p, record.data(), bit_at) == 0 &&
                std::memcmp(p + bit_at + 1, record.data() + bit_at + 1, size - bit_at - 1) == 0) {
                shot_[next_++] = static_cast<char>(p[bit_at] - '0');
                p += size;
                continue;
            }
        }
        const char* eol = static_cast<const char*>(std::memchr(p, line_feed, static_cast<std::size_t>(end - p)));
        if (!eol) {
            carry_.assign(p, end);
            if (carry_.size() > max_line) stopped_ = true;
            break;
        }
        line({p, static_cast<std::size_t>(eol - p)});
        p = eol + 1;
    }
    return !stopped_;
}

bool BitScan::finish() {
    if (!stopped_ && !carry_.empty()) line(carry_);  // a last line without its LF
    carry_.clear();
    if (state_ != State::Start) stopped_ = true;
    return !stopped_;
}

std::string BitScan::take(std::size_t rows) {
    rows = std::min(rows, shots_ready_);
    shots_ready_ -= rows;
    if (shots_ready_ == 0) return std::exchange(bits_, {});
    std::string out = bits_.substr(0, rows * width_);
    bits_.erase(0, rows * width_);
    return out;
}

// A line the prediction did not match.
void BitScan::line(std::string_view text) {
    switch (state_) {
        case State::Shot:
            if (next_ == labels_.size() && text == end_line) return end_shot();
            break;
        case State::Start:
            if (text == start_line) {
                state_ = State::Shot;
                next_ = 0;
                return;
            }
            break;
        case State::SchemaId:
            if (text == schema_id_line) {
                state_ = State::SchemaVersion;
                return;
            }
            break;
        case State::SchemaVersion:
            if (text == schema_version_line) {
                state_ = State::FirstStart;
                return;
            }
            break;
        case State::FirstStart:
            if (text == start_line) {
                state_ = State::FirstShot;
                return;
            }
            break;
        case State::FirstShot:
            return first_shot_line(text);
    }
    stopped_ = true;
}

void BitScan::first_shot_line(std::string_view text) {
    constexpr std::string_view metadata = entry_point_text.substr(0, kind_name(RecordKind::Metadata).size() + 1);
    if (text.starts_with(metadata) && labels_.empty()) {
        // A key, then at most one value.
        const std::string_view entry = text.substr(metadata.size());
        const std::size_t tab = entry.find(field_separator);
        const std::string_view key = entry.substr(0, tab);
        const std::string_view value = tab == std::string_view::npos ? std::string_view() : entry.substr(tab + 1);
        if (!key.empty() && plain_field(key) && plain_field(value)) return;
    } else if (const int bit = result_bit(text); bit >= 0) {
        const std::string_view label = text.substr(result_prefix.size() + 2);
        if (!label.empty() && plain_field(label) && labels_.size() < max_quick_labels &&
            seen_.emplace(label).second) {
            labels_.emplace_back(label);
            records_.push_back(std::string(result_prefix) + '0' + field_separator + std::string(label) + line_feed);
            shot_.push_back(static_cast<char>(bit));
            return;
        }
    } else if (text == end_line) {
        return end_first_shot();
    }
    stopped_ = true;
}

void BitScan::end_first_shot() {
    if (choose_) {
        std::unordered_map<std::string_view, std::size_t> place;
        for (std::size_t i = 0; i < labels_.size(); ++i) place.emplace(labels_[i], i);
        for (const std::string& label : chosen_) {
            const auto found = place.find(label);
            if (found == place.end()) {  // a shot without a chosen label: the general reader says what follows
                stopped_ = true;
                return;
            }
            picks_.push_back(found->second);
        }
    } else {
        for (std::size_t i = 0; i < labels_.size(); ++i) picks_.push_back(i);
    }
    if (reversed_) std::reverse(picks_.begin(), picks_.end());
    width_ = picks_.size();
    seen_.clear();
    end_shot();
}

void BitScan::end_shot() {
    if (!choose_ && !reversed_) {
        bits_.append(shot_);
    } else {
        for (std::size_t pick : picks_) bits_.push_back(shot_[pick]);
    }
    ++shots_ready_;
    state_ = State::Start;
}

}  // namespace brevant::reader
