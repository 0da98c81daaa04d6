#include "labeled_formatter/records.hpp"

namespace brevant {
namespace {

void metadata_entry(TextBuffer& out, std::string_view key, const std::optional<std::string>& value,
                    std::string_view fallback) {
    out.append("METADATA\t");
    out.append(key);
    out.push_back('\t');
    out.append(value ? std::string_view(*value) : fallback);
    out.push_back('\n');
}

}  // namespace

void AttributeMap::set(std::string_view key, std::string_view value) {
    if (key == "qir_profiles") {
        qir_profiles.emplace(value);
    } else if (key == "required_num_qubits") {
        required_num_qubits.emplace(value);
    } else if (key == "required_num_results") {
        required_num_results.emplace(value);
    }
}

void emit_first_shot_header(TextBuffer& out, const AttributeMap& attributes) {
    out.append(shot_start_text);
    out.append("METADATA\tentry_point\n");
    metadata_entry(out, "qir_profiles", attributes.qir_profiles, "base_profile");
    metadata_entry(out, "required_num_qubits", attributes.required_num_qubits, "0");
    metadata_entry(out, "required_num_results", attributes.required_num_results, "0");
}

}  // namespace brevant
