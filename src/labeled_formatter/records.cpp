#include "labeled_formatter/records.hpp"

namespace brevant {

void AttributeMap::set(std::string_view key, std::string_view value) {
    for (std::size_t i = 0; i < values.size(); ++i)
        if (attribute_keys[i].key == key) values[i].emplace(value);
}

void emit_first_shot_header(TextBuffer& out, const AttributeMap& attributes) {
    out.append(shot_start_text);
    out.append(entry_point_text);
    for (std::size_t i = 0; i < attributes.values.size(); ++i) {
        const std::optional<std::string>& value = attributes.values[i];
        out.append(kind_name(RecordKind::Metadata));
        out.push_back(field_separator);
        out.append(attribute_keys[i].key);
        out.push_back(field_separator);
        out.append(value ? std::string_view(*value) : attribute_keys[i].fallback);
        out.push_back(line_feed);
    }
}

}  // namespace brevant
