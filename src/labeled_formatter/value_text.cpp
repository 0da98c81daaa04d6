#include "labeled_formatter/value_text.hpp"

#include "labeled_formatter/scalar_text.hpp"

namespace brevant {
bool value_text(TextBuffer& out, const OutputValue& value) {
    switch (value.kind) {
        case OutputValue::Kind::Scalar:
            scalar_text(out, value.scalar);
            return true;
        case OutputValue::Kind::List: {
            out.push_back('[');
            bool first = true;
            for (Scalar item : value.items) {
                // The item is written in place, its separator in the same
                // reservation: no call per item.
                char* const begin = out.reserve(2 + max_scalar_text);
                char* p = begin;
                if (!first) p = copy_short(p, ", ", 2);
                first = false;
                p = write_scalar_text(p, item);
                out.advance(p - begin);
            }
            out.push_back(']');
            return true;
        }
        case OutputValue::Kind::Invalid:
            break;
    }
    return false;
}

bool bit_text(TextBuffer& out, std::span<const Scalar> items) {
    char* bits = out.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        bits[i] = bit_char(items[i]);
        if (!bits[i]) return false;  // nothing was committed
    }
    out.advance(items.size());
    return true;
}

bool is_truthy(const OutputValue& value) {
    switch (value.kind) {
        case OutputValue::Kind::Scalar:
            switch (value.scalar.kind) {
                case Scalar::Kind::Bool: return value.scalar.boolean;
                case Scalar::Kind::Int: return value.scalar.integer != 0;
                case Scalar::Kind::Float: return value.scalar.real != 0.0;  // NaN is true
            }
            break;
        case OutputValue::Kind::List:
            return !value.items.empty();
        case OutputValue::Kind::Invalid:
            break;
    }
    return false;
}

FormatOutcome rule_text(TextBuffer& out, ValueRule rule, const OutputValue& value) {
    switch (rule) {
        case ValueRule::Truth:
            out.append(is_truthy(value) ? "true" : "false");
            return FormatOutcome::Text;
        case ValueRule::Bits:
            if (value.kind == OutputValue::Kind::List && bit_text(out, value.items)) return FormatOutcome::Text;
            return FormatOutcome::Rejected;
        case ValueRule::Plain:
            break;
    }
    return FormatOutcome::Unchanged;
}

bool record_value_text(TextBuffer& out, ValueRule rule, const OutputValue& value) {
    switch (rule_text(out, rule, value)) {
        case FormatOutcome::Text: return true;
        case FormatOutcome::Rejected: return false;
        case FormatOutcome::Unchanged: break;
    }
    return value_text(out, value);
}

}  // namespace brevant
