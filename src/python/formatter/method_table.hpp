#pragma once
// The twelve methods of QirLabeledFormatter as data: names, parameters,
// annotations and documentation. The method table, the argument binding, the
// docstrings and the exported API description records are all derived from
// this one table.

#include <cstddef>
#include <string_view>

#include "python/runtime/method_info.hpp"

namespace brevant::py {

namespace params {
inline constexpr Param tag_val[] = {{"tag", Annotation::StrText}, {"val", Annotation::TypingAny}};
inline constexpr Param tag_underscore_val[] = {{"tag", Annotation::StrText}, {"_val", Annotation::TypingAny}};
inline constexpr Param qo[] = {{"qo", Annotation::TypingAny}};
inline constexpr Param qo_attributes[] = {{"qo", Annotation::TypingAny}, {"attributes", Annotation::AttributesText}};
inline constexpr Param emit[] = {{"qo", Annotation::TypingAny},
                                 {"ftype", Annotation::StrText},
                                 {"tag", Annotation::StrText},
                                 {"val", Annotation::TypingAny}};
inline constexpr Param type_str_val[] = {{"type_str", Annotation::StrText}, {"val", Annotation::TypingAny}};
inline constexpr Param qo_shot[] = {{"qo", Annotation::TypingAny}, {"shot", Annotation::TypingAny}};
inline constexpr Param qo_shot_attributes[] = {{"qo", Annotation::TypingAny},
                                               {"shot", Annotation::TypingAny},
                                               {"attributes", Annotation::AttributesText}};
inline constexpr Param results_attributes[] = {{"results", Annotation::TypingAny},
                                               {"attributes", Annotation::AttributesText}};
}  // namespace params

namespace method {
enum Index : std::size_t {
    val_null,
    val_tag_type,
    validate_tag_and_value,
    results_header,
    first_shot_header,
    shot_footer,
    emit,
    format_value,
    write_shot,
    write_first_shot,
    emit_values_in_shot,
    qir_labeled_output,
    count,
};
}  // namespace method

inline constexpr MethodInfo methods[method::count] = {
    {"_val_null", params::tag_val, Annotation::BuiltinsBool,
     "No null tags or null values allowed (empty strings permitted for tags)"},
    {"_val_tag_type", params::tag_underscore_val, Annotation::BuiltinsBool, "Tag must be a string"},
    {"validate_tag_and_value", params::tag_val, Annotation::BuiltinsBool, "Ensure the tag and value are valid values"},
    {"results_header", params::qo, Annotation::None, "Emit results header."},
    {"first_shot_header", params::qo_attributes, Annotation::None, "Emit opening shot boundary header."},
    {"shot_footer", params::qo, Annotation::None, "Emit closing shot boundary footer."},
    {"emit", params::emit, Annotation::None, "Emit a value with of the given type and tag."},
    {"format_value", params::type_str_val, Annotation::TypingAny, "Format the value if required"},
    {"write_shot", params::qo_shot, Annotation::None, "Format the user defined output from shots"},
    {"write_first_shot", params::qo_shot_attributes, Annotation::None,
     "Write the first shot, which includes extra metadata"},
    {"emit_values_in_shot", params::qo_shot, Annotation::None,
     "Given a shot, check the format and emit each user value"},
    {"qir_labeled_output", params::results_attributes, Annotation::BuiltinsStr,
     "Given a list of results associated with an `n_qubits` job, return\n"
     "the results in QIR \"Labeled\" Output Schema format."},
};

inline constexpr std::string_view class_name = "QirLabeledFormatter";
inline constexpr std::string_view class_doc = "Formatter for QIR Output Spec results.";

}  // namespace brevant::py
