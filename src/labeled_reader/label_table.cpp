#include "labeled_reader/label_table.hpp"

#include "labeled_reader/utf8.hpp"

namespace brevant::reader {

std::uint32_t LabelTable::intern(std::vector<Column>& columns, QirType type, bool tagged, std::string_view tag,
                                 std::size_t position, std::uint64_t line, std::uint32_t max_labels) {
    if (position < expected_.size()) {
        std::uint32_t guess = expected_[position];
        const Column& column = columns[guess];
        if (column.type == type && column.tagged == tagged && column.tag == tag) {
            current_.push_back(guess);
            return guess;
        }
    }
    key_.clear();
    key_.push_back(static_cast<char>(type));
    key_.push_back(tagged ? 't' : 'u');
    key_.append(tag);
    std::uint32_t found;
    if (auto it = index_.find(std::string_view(key_)); it != index_.end()) {
        found = it->second;
    } else {
        if (columns.size() >= max_labels) return none;
        if (!is_utf8(tag)) return not_text;
        found = static_cast<std::uint32_t>(columns.size());
        columns.push_back(Column{type, tagged, std::string(tag), line});
        index_.emplace(key_, found);
    }
    current_.push_back(found);
    return found;
}

}  // namespace brevant::reader
