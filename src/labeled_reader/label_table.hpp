#pragma once
// Labels interned once: each (type, tag) pair becomes a column index.
// Shots usually repeat the previous shot's labels in the same order, so the
// label at a position is first compared with the one the last shot had
// there, and only a miss pays for hashing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "labeled_reader/document.hpp"

namespace brevant::reader {

class LabelTable {
public:
    // The column of the label; `none` when it would be a new column beyond
    // `max_columns`, `not_text` when a new tag is not UTF-8.
    static constexpr std::uint32_t none = UINT32_MAX;
    static constexpr std::uint32_t not_text = UINT32_MAX - 1;
    std::uint32_t intern(std::vector<Column>& columns, QirType type, bool tagged, std::string_view tag,
                         std::size_t position, std::uint32_t max_columns) {
        if (position < expected_.size()) {
            std::uint32_t guess = expected_[position];
            const Column& column = columns[guess];
            if (column.type == type && column.tagged == tagged && column.tag == tag) {
                current_.push_back(guess);
                return guess;
            }
        }
        return look_up(columns, type, tagged, tag, max_columns);
    }

    // The shot that just ended sets the expectation for the next one.
    // Returns whether it had the labels of the shot before it, in order.
    bool end_shot() {
        bool same = misses_ == 0 && current_.size() == expected_.size();
        std::swap(expected_, current_);
        current_.clear();
        misses_ = 0;
        return same;
    }
    void drop_shot() {
        current_.clear();
        misses_ = 0;
    }

    // The columns the table still relies on: the last shot's and the current one's.
    std::size_t expected_size() const noexcept { return expected_.size(); }
    template <class Visit>
    void for_each_needed(Visit&& visit) const {
        for (std::uint32_t column : expected_) visit(column);
        for (std::uint32_t column : current_) visit(column);
    }

    // After `columns` kept only some columns: `renumbered[old]` is the new
    // index of each kept one. Every column the table expects must be kept.
    void renumber(const std::vector<Column>& columns, const std::vector<std::uint32_t>& renumbered);

private:
    std::uint32_t look_up(std::vector<Column>& columns, QirType type, bool tagged, std::string_view tag,
                          std::uint32_t max_columns);
    const std::string& key(QirType type, bool tagged, std::string_view tag);
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const noexcept { return std::hash<std::string_view>{}(key); }
    };
    std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>> index_;
    std::vector<std::uint32_t> expected_;  // column at each position of the last shot
    std::vector<std::uint32_t> current_;
    std::size_t misses_ = 0;  // positions of the current shot where the guess failed
    std::string key_;
};

}  // namespace brevant::reader
