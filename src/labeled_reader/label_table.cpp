#include "labeled_reader/label_table.hpp"

#include "labeled_reader/utf8.hpp"

namespace brevant::reader {

const std::string& LabelTable::key(QirType type, bool tagged, std::string_view tag) {
    key_.clear();
    key_.push_back(static_cast<char>(type));
    key_.push_back(tagged ? 't' : 'u');
    key_.append(tag);
    return key_;
}

std::uint32_t LabelTable::look_up(std::vector<Column>& columns, QirType type, bool tagged, std::string_view tag,
                                  std::uint32_t max_columns) {
    ++misses_;
    const std::string& text = key(type, tagged, tag);
    std::uint32_t found;
    if (auto it = index_.find(std::string_view(text)); it != index_.end()) {
        found = it->second;
    } else {
        if (columns.size() >= max_columns) return none;
        if (!is_utf8(tag)) return not_text;
        found = static_cast<std::uint32_t>(columns.size());
        columns.push_back(Column{type, tagged, std::string(tag)});
        index_.emplace(text, found);
    }
    current_.push_back(found);
    return found;
}

void LabelTable::renumber(const std::vector<Column>& columns, const std::vector<std::uint32_t>& renumbered) {
    index_.clear();
    for (std::uint32_t c = 0; c < columns.size(); ++c) index_.emplace(key(columns[c].type, columns[c].tagged, columns[c].tag), c);
    for (std::uint32_t& column : expected_) column = renumbered[column];
    for (std::uint32_t& column : current_) column = renumbered[column];
}

}  // namespace brevant::reader
