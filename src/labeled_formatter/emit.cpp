#include "labeled_formatter/emit.hpp"

#include "labeled_formatter/value_text.hpp"

namespace brevant {
namespace {

// Appends the record up to and including its value field. A value that has no
// text for the type is counted instead, and nothing is appended: a reader of
// the buffer never sees part of a line.
bool record_start(OutputBuffer& out, TypeRow type, const OutputValue& value) {
    TextBuffer& text = out.text;
    const std::size_t mark = text.size();
    const RecordPrefix& prefix = record_prefix(type);
    text.append({prefix.text, prefix.size});
    if (record_value_text(text, rule(type), value)) return true;
    text.truncate(mark);
    ++out.skipped;
    return false;
}

}  // namespace

void emit_value(OutputBuffer& out, TypeRow type, std::string_view tag, const OutputValue& value) {
    const std::size_t mark = out.text.size();
    if (!record_start(out, type, value)) return;
    if (value.kind == OutputValue::Kind::Invalid) {
        out.text.truncate(mark);
        return;
    }
    out.text.push_back(field_separator);
    out.text.append(tag);
    out.text.push_back(line_feed);
}

void count_if_malformed(OutputBuffer& out, TypeRow type, const OutputValue& value) {
    const std::size_t mark = out.text.size();
    if (record_start(out, type, value)) out.text.truncate(mark);
}

}  // namespace brevant
