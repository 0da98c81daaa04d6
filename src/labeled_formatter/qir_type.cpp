#include "labeled_formatter/qir_type.hpp"

namespace brevant {

std::string_view qir_type_name(QirType type) noexcept {
    switch (type) {
        case QirType::Int: return "INT";
        case QirType::Bool: return "BOOL";
        case QirType::Double: return "DOUBLE";
        case QirType::Result: return "RESULT";
        case QirType::Array: return "ARRAY";
        case QirType::Tuple: return "TUPLE";
        case QirType::ResultArray: return "RESULT_ARRAY";
    }
    return {};
}

std::optional<QirType> qir_type_for(std::string_view raw_type) noexcept {
    // Dispatch on length first: most shots carry one or two raw types, and a
    // length test rejects almost every mismatch without comparing bytes.
    switch (raw_type.size()) {
        case 3:
            if (raw_type == "INT") return QirType::Int;
            break;
        case 4:
            if (raw_type == "UINT") return QirType::Int;
            if (raw_type == "BOOL") return QirType::Bool;
            break;
        case 5:
            if (raw_type == "FLOAT") return QirType::Double;
            break;
        case 6:
            if (raw_type == "RESULT") return QirType::Result;
            break;
        case 8:
            if (raw_type == "QIRARRAY") return QirType::Array;
            if (raw_type == "QIRTUPLE") return QirType::Tuple;
            break;
        case 12:
            if (raw_type == "RESULT_ARRAY") return QirType::ResultArray;
            break;
    }
    return std::nullopt;
}

}  // namespace brevant
