#include "labeled_reader/label_table.hpp"

#include "labeled_reader/utf8.hpp"

namespace brevant::reader {

std::uint32_t LabelTable::look_up(std::vector<Column>& columns, QirType type, bool tagged, std::string_view tag,
                                  std::uint32_t max_labels) {
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
        columns.push_back(Column{type, tagged, std::string(tag)});
        index_.emplace(key_, found);
    }
    current_.push_back(found);
    return found;
}

}  // namespace brevant::reader
