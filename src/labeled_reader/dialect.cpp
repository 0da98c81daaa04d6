#include "labeled_reader/dialect.hpp"

#include "labeled_reader/record.hpp"

namespace brevant::reader {

std::optional<std::string_view> known_schema(std::string_view text) noexcept {
    if (equal_ignoring_case(text, labeled_schema)) return labeled_schema;
    if (equal_ignoring_case(text, ordered_schema)) return ordered_schema;
    return std::nullopt;
}

std::string_view document_schema(const Document& doc) noexcept {
    for (const auto& [name, value] : doc.headers)
        if (name == schema_id_header || name == "schema_name")
            if (auto schema = known_schema(value)) return *schema;
    if (doc.labeling_schema)
        if (auto schema = known_schema(*doc.labeling_schema)) return *schema;
    return doc.saw_untagged_output && !doc.saw_tagged_output ? ordered_schema : labeled_schema;
}

std::optional<std::string_view> document_version(const Document& doc) noexcept {
    for (const auto& [name, value] : doc.headers)
        if (name == schema_version_header) return std::string_view(value);
    return std::nullopt;
}

}  // namespace brevant::reader
