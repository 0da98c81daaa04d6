#include "labeled_reader/outcomes.hpp"

#include <algorithm>
#include <unordered_map>

#include "labeled_reader/parse_error.hpp"

namespace brevant::reader {
namespace {

// Counts outcomes as shots arrive. Packed outcomes go through an open-
// addressing table: with random measurements nearly every shot is a new
// outcome, and a node per outcome would cost more than reading the shot.
class Tally {
public:
    explicit Tally(std::size_t shots) { out_.of_shot.reserve(shots); }

    void add_packed(std::uint64_t bits, std::uint64_t bit_count) {
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

    void add_text(std::string_view text) {
        auto found = long_index_.find(text);
        if (found != long_index_.end()) return count(found->second);
        const std::string& kept = out_.long_texts.emplace_back(text);
        std::uint32_t index = fresh(Outcomes::Distinct{0, kept.size(), &kept});
        long_index_.emplace(kept, index);
        count(index);
    }

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
        ++out_.counts[index];
        out_.of_shot.push_back(index);
    }

    Outcomes out_;
    std::vector<Slot> slots_;
    std::size_t used_ = 0;
    std::unordered_map<std::string_view, std::uint32_t> long_index_;
};

Outcomes all_bits(const Document& doc) {
    Tally tally(doc.shots.size());
    for (const Shot& shot : doc.shots) {
        if (shot.non_bit_line)
            throw ParseError{shot.non_bit_line, 1, "RESULT value that is not a bit (0, 1, true or false)"};
        if (shot.bit_count <= packed_bits_max) {
            tally.add_packed(shot.packed, shot.bit_count);
        } else {
            tally.add_text(std::string_view(doc.outcome_text.data() + shot.bits_offset, shot.bit_count));
        }
    }
    return tally.take();
}

Outcomes selected_bits(const Document& doc, const std::vector<std::string_view>& labels) {
    std::vector<std::int32_t> slot_of_column(doc.columns.size(), -1);
    for (std::size_t c = 0; c < doc.columns.size(); ++c) {
        const Column& column = doc.columns[c];
        if (column.type != QirType::Result && column.type != QirType::ResultArray) continue;
        for (std::size_t slot = 0; slot < labels.size(); ++slot)
            if (column.tagged && column.tag == labels[slot]) slot_of_column[c] = static_cast<std::int32_t>(slot);
    }
    Tally tally(doc.shots.size());
    std::vector<std::string_view> pieces(labels.size());
    std::vector<bool> seen(labels.size());
    std::string key;
    for (const Shot& shot : doc.shots) {
        std::fill(seen.begin(), seen.end(), false);
        for (std::size_t e = shot.first_entry; e < shot.first_entry + shot.entry_count; ++e) {
            const Entry& entry = doc.entries[e];
            std::int32_t slot = slot_of_column[entry.column];
            if (slot < 0 || seen[slot]) continue;
            seen[slot] = true;
            if (entry.kind() == EntryKind::Bits) {
                pieces[slot] = std::string_view(doc.bits.data() + entry.offset, entry.size);
                continue;
            }
            std::optional<bool> bit = entry.is_scalar() ? as_bit(entry.scalar()) : std::nullopt;
            if (!bit)
                throw ParseError{shot.line, 1, "the RESULT labeled '" + std::string(labels[slot]) +
                                                   "' in the shot started here is not a bit"};
            pieces[slot] = *bit ? "1" : "0";
        }
        key.clear();
        for (std::size_t slot = 0; slot < labels.size(); ++slot) {
            if (!seen[slot])
                throw ParseError{shot.line, 1, "the shot started here has no RESULT labeled '" +
                                                   std::string(labels[slot]) + "'"};
            key.append(pieces[slot]);
        }
        if (key.size() > packed_bits_max) {
            tally.add_text(key);
            continue;
        }
        std::uint64_t packed = 0;
        for (char bit : key) packed = (packed << 1) | static_cast<std::uint64_t>(bit == '1');
        tally.add_packed(packed, key.size());
    }
    return tally.take();
}

}  // namespace

std::string_view Outcomes::text(std::size_t i, char (&buffer)[packed_bits_max]) const noexcept {
    const Distinct& outcome = distinct[i];
    if (outcome.text) return *outcome.text;
    for (std::uint64_t b = 0; b < outcome.bit_count; ++b)
        buffer[b] = static_cast<char>('0' + ((outcome.packed >> (outcome.bit_count - 1 - b)) & 1));
    return std::string_view(buffer, outcome.bit_count);
}

Outcomes outcomes(const Document& doc, const std::vector<std::string_view>* labels) {
    return labels ? selected_bits(doc, *labels) : all_bits(doc);
}

}  // namespace brevant::reader
