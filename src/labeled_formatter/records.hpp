#pragma once
// The fixed records of a labeled document and the METADATA block.

#include <optional>
#include <string>
#include <string_view>

#include "labeled_formatter/text_buffer.hpp"

namespace brevant {

inline constexpr std::string_view results_header_text =
    "HEADER\tschema_id\tlabeled\n"
    "HEADER\tschema_version\t2.1\n";
inline constexpr std::string_view shot_start_text = "START\n";
inline constexpr std::string_view shot_end_text = "END\t0\n";

// Room to keep free in front of a first shot's records for its header, so
// that the header is normally written in place once the attributes are known.
inline constexpr std::size_t first_shot_header_room = 512;

// The job's attributes; of all the keys a caller may pass, only these are written.
struct AttributeMap {
    std::optional<std::string> qir_profiles;
    std::optional<std::string> required_num_qubits;
    std::optional<std::string> required_num_results;

    // A later value for the same key replaces the earlier one.
    void set(std::string_view key, std::string_view value);
};

// "START", then the entry point marker and one METADATA entry per known key.
void emit_first_shot_header(TextBuffer& out, const AttributeMap& attributes);

}  // namespace brevant
