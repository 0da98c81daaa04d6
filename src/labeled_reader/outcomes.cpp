#include "labeled_reader/outcomes.hpp"

#include <algorithm>
#include <unordered_map>

namespace brevant::reader {
namespace {


// Counts outcomes as shots arrive. Packed outcomes go through an open-
// addressing table: with random measurements nearly every shot is a new
// outcome, and a node per outcome would cost more than reading the shot.
class Tally {
public:
    explicit Tally(std::size_t shots) { out_.of_shot.reserve(shots); }

    void add_packed(std::uint64_t bits, std::uint64_t bit_count, bool counted) {
        counted_ = counted;
        if (2 * (used_ + 1) > slots_.size()) grow();
        std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash(bits, bit_count) & mask;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (slot.index == empty) {
                slot = {bits, bit_count, fresh(Outcomes::Distinct{bits, bit_count, nullptr})};
                ++used_;
                return count(slot.index);
            }
            if (slot.bits == bits && slot.bit_count == bit_count) return count(slot.index);
        }
    }

    void add_text(std::string_view text, bool counted) {
        counted_ = counted;
        auto found = long_index_.find(text);
        if (found != long_index_.end()) return count(found->second);
        const std::string& kept = out_.long_texts.emplace_back(text);
        std::uint32_t index = fresh(Outcomes::Distinct{0, kept.size(), &kept});
        long_index_.emplace(kept, index);
        count(index);
    }

    void add_bits(std::string_view text, bool counted) {
        if (text.size() > packed_bits_max) return add_text(text, counted);
        std::uint64_t packed = 0;
        for (char bit : text) packed = (packed << 1) | static_cast<std::uint64_t>(bit == '1');
        add_packed(packed, text.size(), counted);
    }

    void leave_out() { out_.of_shot.push_back(Outcomes::left_out); }
    void failed_left_out() { ++out_.failed_left_out; }
    std::vector<ParseError>& problems() { return out_.problems; }

    Outcomes take() { return std::move(out_); }

private:
    static constexpr std::uint32_t empty = UINT32_MAX;
    struct Slot {
        std::uint64_t bits;
        std::uint64_t bit_count;
        std::uint32_t index;
    };

    static std::size_t hash(std::uint64_t bits, std::uint64_t bit_count) noexcept {
        std::uint64_t h = (bits ^ (bit_count << 57)) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(std::max<std::size_t>(64, 2 * old.size()), Slot{0, 0, empty});
        std::size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.index == empty) continue;
            std::size_t at = hash(slot.bits, slot.bit_count) & mask;
            while (slots_[at].index != empty) at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }

    std::uint32_t fresh(const Outcomes::Distinct& distinct) {
        out_.distinct.push_back(distinct);
        out_.counts.push_back(0);
        return static_cast<std::uint32_t>(out_.distinct.size() - 1);
    }

    void count(std::uint32_t index) {
        out_.counts[index] += counted_;
        out_.of_shot.push_back(index);
    }

    Outcomes out_;
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    bool counted_ = true;
    std::unordered_map<std::string_view, std::uint32_t> long_index_;
};

// The first few labels, for a message.
std::string quoted_labels(const std::vector<std::string_view>& labels) {
    constexpr std::size_t shown = 5;
    std::string out;
    for (std::size_t i = 0; i < labels.size() && i < shown; ++i) out += (i ? ", " : "") + quoted(labels[i]);
    if (labels.size() > shown) out += " and " + std::to_string(labels.size() - shown) + " more";
    return out;
}

}  // namespace

BitPicker::BitPicker(std::vector<std::string> labels, bool chosen) : chosen_(chosen), labels_(std::move(labels)) {
    if (!chosen_) return;
    learnt_ = true;
    for (std::uint32_t slot = 0; slot < labels_.size(); ++slot) slot_of_label_.emplace(labels_[slot], slot);
}

std::int32_t BitPicker::slot_of(const Document& doc, std::uint32_t column) {
    if (cached_doc_ != &doc || cached_epoch_ != doc.columns_epoch) {
        slot_of_column_.clear();
        cached_doc_ = &doc;
        cached_epoch_ = doc.columns_epoch;
    }
    if (slot_of_column_.size() <= column) slot_of_column_.resize(doc.columns.size(), -2);
    std::int32_t& slot = slot_of_column_[column];
    if (slot == -2) {
        const Column& c = doc.columns[column];
        auto found = slot_of_label_.find(c.tag);
        slot = c.tagged && found != slot_of_label_.end() ? static_cast<std::int32_t>(found->second) : -1;
    }
    return slot;
}

// The shot's RESULT and RESULT_ARRAY records, in record order.
void BitPicker::gather(const Document& doc, const Shot& shot) {
    records_.clear();
    for (ShotCursor cursor(doc, shot); !cursor.done();) {
        OutputEntry entry = cursor.next();
        QirType type = doc.columns[entry.column].type;
        if (type == QirType::Result)
            records_.push_back({entry.column, *as_bit(entry.scalar) ? "1" : "0"});
        else if (type == QirType::ResultArray)
            records_.push_back({entry.column, entry.text});
    }
}

BitPicker::Picked BitPicker::pick(const Document& doc, const Shot& shot) {
    if (chosen_) return pick_chosen(doc, shot);
    if (shot.same_labels_as_previous && record_order_holds_) return {Picked::Status::RecordOrder, {}};
    return pick_by_label(doc, shot);
}

BitPicker::Picked BitPicker::pick_chosen(const Document& doc, const Shot& shot) {
    gather(doc, shot);
    found_.assign(labels_.size(), -1);
    for (std::size_t r = 0; r < records_.size(); ++r) {
        std::int32_t slot = slot_of(doc, records_[r].column);
        if (slot >= 0 && found_[slot] < 0) found_[slot] = static_cast<std::int32_t>(r);  // a label twice: the first
    }
    text_.clear();
    for (std::size_t slot = 0; slot < labels_.size(); ++slot) {
        if (found_[slot] >= 0) {
            text_ += records_[found_[slot]].bits;
        } else if (shot.exit_code == 0) {  // a failed shot may have stopped before it
            return {Picked::Status::Missing, labels_[slot]};
        }
    }
    return {Picked::Status::Text, text_};
}

BitPicker::Picked BitPicker::pick_by_label(const Document& doc, const Shot& shot) {
    gather(doc, shot);
    record_order_holds_ = true;
    std::vector<std::string_view> tags;
    for (const BitRecord& record : records_) {
        const Column& column = doc.columns[record.column];
        if (!column.tagged || column.tag.empty()) return {Picked::Status::RecordOrder, {}};
        tags.push_back(column.tag);
    }
    std::sort(tags.begin(), tags.end());
    if (std::adjacent_find(tags.begin(), tags.end()) != tags.end()) return {Picked::Status::RecordOrder, {}};

    if (!learnt_) {
        if (shot.exit_code != 0) {  // a failed shot does not set the labels
            record_order_holds_ = false;
            return {Picked::Status::RecordOrder, {}};
        }
        for (const BitRecord& record : records_) labels_.push_back(doc.columns[record.column].tag);
        for (std::uint32_t slot = 0; slot < labels_.size(); ++slot) slot_of_label_.emplace(labels_[slot], slot);
        learnt_ = true;
        learnt_line_ = shot.line;
        slot_of_column_.clear();
        return {Picked::Status::RecordOrder, {}};
    }

    found_.assign(labels_.size(), -1);
    bool in_order = records_.size() == labels_.size();
    std::size_t unknown = 0;
    for (std::size_t r = 0; r < records_.size(); ++r) {
        std::int32_t slot = slot_of(doc, records_[r].column);
        if (slot < 0) {
            ++unknown;
        } else {
            found_[slot] = static_cast<std::int32_t>(r);
        }
        in_order = in_order && slot == static_cast<std::int32_t>(r);
    }
    record_order_holds_ = in_order;
    if (in_order) return {Picked::Status::RecordOrder, {}};
    if (shot.exit_code == 0 && (unknown > 0 || records_.size() != labels_.size())) differ(doc, shot);
    // A failed shot may lack labels, and may record others: those follow, in record order.
    text_.clear();
    for (std::int32_t r : found_)
        if (r >= 0) text_ += records_[r].bits;
    for (const BitRecord& record : records_)
        if (slot_of(doc, record.column) < 0) text_ += record.bits;
    return {Picked::Status::Text, text_};
}

void BitPicker::differ(const Document& doc, const Shot& shot) const {
    std::vector<std::string_view> extra, missing;
    std::vector<bool> present(labels_.size());
    for (const BitRecord& record : records_) {
        const std::string& tag = doc.columns[record.column].tag;
        auto found = slot_of_label_.find(tag);
        if (found == slot_of_label_.end()) {
            extra.push_back(tag);
        } else {
            present[found->second] = true;
        }
    }
    for (std::size_t slot = 0; slot < labels_.size(); ++slot)
        if (!present[slot]) missing.push_back(labels_[slot]);
    std::string message = "the shot started at line " + std::to_string(shot.line) + " records other RESULT labels than the shot at line " +
                          std::to_string(learnt_line_) + " (";
    if (!extra.empty()) message += "also " + quoted_labels(extra);
    if (!extra.empty() && !missing.empty()) message += "; ";
    if (!missing.empty()) message += "not " + quoted_labels(missing);
    message += "): pass labels= to choose the bits to count";
    throw RequestError{std::move(message)};
}

std::string_view Outcomes::text(std::size_t i, BitOrder order, std::string& buffer) const {
    const Distinct& outcome = distinct[i];
    if (outcome.text) {
        buffer = *outcome.text;
    } else {
        buffer.resize(outcome.bit_count);
        for (std::uint64_t b = 0; b < outcome.bit_count; ++b)
            buffer[b] = static_cast<char>('0' + ((outcome.packed >> (outcome.bit_count - 1 - b)) & 1));
    }
    if (order == BitOrder::Reversed) std::reverse(buffer.begin(), buffer.end());
    return buffer;
}

Outcomes outcomes(const Document& doc, BitPicker& picker, const OutcomeRequest& request) {
    Tally tally(doc.shots.size());
    for (const Shot& shot : doc.shots) {
        bool counted = shot.exit_code == 0 || request.failed == FailedShots::Count;
        BitPicker::Picked picked = picker.pick(doc, shot);
        switch (picked.status) {
            case BitPicker::Picked::Status::RecordOrder:
                if (shot.bit_count <= packed_bits_max) {
                    tally.add_packed(shot.packed, shot.bit_count, counted);
                } else {
                    tally.add_text(std::string_view(doc.outcome_text.data() + shot.bits_offset, shot.bit_count), counted);
                }
                break;
            case BitPicker::Picked::Status::Text:
                tally.add_bits(picked.text, counted);
                break;
            case BitPicker::Picked::Status::Missing: {
                std::string message = "the shot started here has no RESULT labeled " + quoted(picked.text);
                if (request.departures == Departures::Raise)
                    throw RequestError{"line " + std::to_string(shot.line) + ": " + message};
                tally.leave_out();
                if (tally.problems().size() < max_problems) tally.problems().push_back(ParseError{shot.line, 1, message});
                continue;
            }
        }
        if (!counted) tally.failed_left_out();
    }
    return tally.take();
}

}  // namespace brevant::reader
