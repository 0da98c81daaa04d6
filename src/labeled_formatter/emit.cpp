#include "labeled_formatter/emit.hpp"

#include "labeled_formatter/value_text.hpp"

namespace brevant {

std::optional<UserEntry> user_entry(std::string_view key) noexcept {
    constexpr std::string_view prefix = "USER:";
    if (!key.starts_with(prefix)) return std::nullopt;
    key.remove_prefix(prefix.size());
    std::size_t colon = key.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::optional<QirType> type = qir_type_for(key.substr(0, colon));
    if (!type) return std::nullopt;
    return UserEntry{*type, key.substr(colon + 1)};
}

void emit_value(OutputBuffer& out, QirType type, const std::string_view* tag, const OutputValue& value) {
    // The record is composed in place and cut off again if it turns out not to
    // be written, so a reader of the buffer never sees part of a line.
    TextBuffer& text = out.text;
    const std::size_t mark = text.size();
    std::string_view name = qir_type_name(type);
    text.append("OUTPUT\t");
    text.append(name);
    text.push_back('\t');
    if (!record_value_text(text, type, value)) {
        text.truncate(mark);
        ++out.skipped;
        return;
    }
    if (!tag || value.kind == OutputValue::Kind::Invalid) {
        text.truncate(mark);
        return;
    }
    text.push_back('\t');
    text.append(*tag);
    text.push_back('\n');
}

}  // namespace brevant
