#pragma once
// Which schema and version a document declares, from whatever it carries:
// the HEADER records (schema_id, or schema_name in older writers), else the
// output_labeling_schema METADATA entry, else the shape of its OUTPUT records.

#include <optional>
#include <string_view>

#include "labeled_reader/document.hpp"

namespace brevant::reader {

// "labeled" or "ordered" for a schema name in either letter case.
std::optional<std::string_view> known_schema(std::string_view text) noexcept;

std::string_view document_schema(const Document& doc) noexcept;  // "labeled" or "ordered"
std::optional<std::string_view> document_version(const Document& doc) noexcept;

}  // namespace brevant::reader
