#pragma once
// The fixed records of a labeled document and the METADATA block.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "labeled_formatter/text_buffer.hpp"
#include "schema/records.hpp"

namespace brevant {

// Room to keep free in front of a first shot's records for its header, so
// that the header is normally written in place once the attributes are known.
inline constexpr std::size_t first_shot_header_room = 512;

// The job's attributes; of all the keys a caller may pass, only those of
// attribute_keys are written, each from its slot.
struct AttributeMap {
    std::array<std::optional<std::string>, std::size(attribute_keys)> values;

    // A later value for the same key replaces the earlier one.
    void set(std::string_view key, std::string_view value);
};

// "START", then the entry point marker and one METADATA entry per known key.
void emit_first_shot_header(TextBuffer& out, const AttributeMap& attributes);

}  // namespace brevant
