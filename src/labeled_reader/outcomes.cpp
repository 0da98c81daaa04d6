#include "labeled_reader/outcomes.hpp"

#include <unordered_map>

#include "labeled_reader/parse_error.hpp"

namespace brevant::reader {
namespace {

struct PackedKey {
    std::uint64_t bits;
    std::uint64_t count;
    bool operator==(const PackedKey&) const = default;
};

struct PackedHash {
    std::size_t operator()(const PackedKey& key) const noexcept {
        return std::hash<std::uint64_t>{}(key.bits * 0x9E3779B97F4A7C15ull ^ key.count);
    }
};

std::string packed_text(std::uint64_t bits, std::uint64_t count) {
    std::string text(count, '0');
    for (std::uint64_t i = 0; i < count; ++i)
        if ((bits >> (count - 1 - i)) & 1) text[i] = '1';
    return text;
}

class Tally {
public:
    explicit Tally(std::size_t shots) { out_.of_shot.reserve(shots); }

    template <class Map, class Key, class MakeText>
    void add(Map& index, const Key& key, MakeText&& make_text) {
        auto [it, inserted] = index.try_emplace(key, static_cast<std::uint32_t>(out_.texts.size()));
        if (inserted) {
            out_.texts.push_back(make_text());
            out_.counts.push_back(0);
        }
        ++out_.counts[it->second];
        out_.of_shot.push_back(it->second);
    }
    Outcomes take() { return std::move(out_); }

private:
    Outcomes out_;
};

Outcomes all_bits(const Document& doc) {
    Tally tally(doc.shots.size());
    std::unordered_map<PackedKey, std::uint32_t, PackedHash> packed;
    std::unordered_map<std::string_view, std::uint32_t> long_ones;
    for (const Shot& shot : doc.shots) {
        if (shot.non_bit_line)
            throw ParseError{shot.non_bit_line, 1, "RESULT value that is not a bit (0, 1, true or false)"};
        if (shot.bit_count <= packed_bits_max) {
            PackedKey key{shot.packed, shot.bit_count};
            tally.add(packed, key, [&] { return packed_text(key.bits, key.count); });
        } else {
            std::string_view text(doc.outcome_text.data() + shot.bits_offset, shot.bit_count);
            tally.add(long_ones, text, [&] { return std::string(text); });
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
    std::unordered_map<std::string, std::uint32_t> index;
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
        tally.add(index, key, [&] { return key; });
    }
    return tally.take();
}

}  // namespace

Outcomes outcomes(const Document& doc, const std::vector<std::string_view>* labels) {
    return labels ? selected_bits(doc, *labels) : all_bits(doc);
}

}  // namespace brevant::reader
