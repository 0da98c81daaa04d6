#include "labeled_formatter/emit.hpp"

#include "labeled_formatter/value_text.hpp"

namespace brevant {

void emit_value(OutputBuffer& out, TypeRow type, std::optional<std::string_view> tag, const OutputValue& value) {
    // The record is composed in place and cut off again if it turns out not to
    // be written, so a reader of the buffer never sees part of a line.
    TextBuffer& text = out.text;
    const std::size_t mark = text.size();
    const RecordPrefix& prefix = record_prefix(type);
    text.append({prefix.text, prefix.size});
    if (!record_value_text(text, row(type).rule, value)) {
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
