// API description records for stub generators: sixteen exported data symbols,
// each a 4-byte little-endian length followed by that many bytes of JSON.
// The module never reads them; tests/test_api_records.py checks the package's
// hand-kept .pyi stub against them.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/compiler.hpp"
#include "python/formatter/method_table.hpp"
#include "python/runtime/static_text.hpp"

namespace brevant::py {
namespace {

constexpr std::string_view module_id = "5089168780408015941";
constexpr std::string_view class_id = "2587030234202453218";

constexpr std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

constexpr std::string name_expr(std::string_view id) { return "{\"type\":\"name\",\"id\":" + json_string(id) + "}"; }

constexpr std::string attribute_expr(std::string_view module, std::string_view attr) {
    return "{\"type\":\"attribute\",\"value\":" + name_expr(module) + ",\"attr\":" + json_string(attr) + "}";
}

constexpr std::string str_constant(std::string_view value) {
    return "{\"type\":\"constant\",\"kind\":\"str\",\"value\":" + json_string(value) + "}";
}

constexpr std::string annotation_expr(Annotation annotation) {
    switch (annotation) {
        case Annotation::TypingAny: return attribute_expr("typing", "Any");
        case Annotation::StrText: return str_constant("str");
        case Annotation::AttributesText: return str_constant("dict[str, str | None]");
        case Annotation::None: return "{\"type\":\"constant\",\"kind\":\"none\"}";
        case Annotation::BuiltinsBool: return attribute_expr("builtins", "bool");
        case Annotation::BuiltinsStr: return attribute_expr("builtins", "str");
    }
    return {};
}

constexpr std::string function_record(const MethodInfo& method) {
    std::string args;
    for (const Param& param : method.params) {
        if (!args.empty()) args += ",";
        args += "{\"annotation\":" + annotation_expr(param.annotation) + ",\"name\":" + json_string(param.name) + "}";
    }
    return "{\"arguments\":{\"args\":[" + args + "],\"posonlyargs\":[{\"name\":\"self\"}]},\"doc\":" +
           json_string(method.doc) + ",\"name\":" + json_string(method.name) + ",\"parent\":" +
           json_string(class_id) + ",\"returns\":" + annotation_expr(method.returns) + ",\"type\":\"function\"}";
}

constexpr std::string module_record() {
    return "{\"id\":" + json_string(module_id) + ",\"incomplete\":false,\"members\":[" + json_string(class_id) +
           "],\"name\":\"_native\",\"type\":\"module\"}";
}

constexpr std::string class_record() {
    return "{\"decorators\":[" + attribute_expr("typing", "final") + "],\"doc\":" + json_string(class_doc) +
           ",\"id\":" + json_string(class_id) + ",\"name\":" + json_string(class_name) + ",\"type\":\"class\"}";
}

constexpr std::string new_record() {
    return "{\"arguments\":{\"posonlyargs\":[{\"name\":\"cls\"}]},\"name\":\"__new__\",\"parent\":" +
           json_string(class_id) + ",\"returns\":{\"type\":\"id\",\"id\":" + json_string(class_id) +
           "},\"type\":\"function\"}";
}

constexpr std::string val_fns_record() {
    return "{\"annotation\":{\"type\":\"subscript\",\"value\":" + attribute_expr("typing", "Final") +
           ",\"slice\":" + attribute_expr("builtins", "tuple") + "},\"name\":\"val_fns\",\"parent\":" +
           json_string(class_id) + ",\"type\":\"attribute\"}";
}

// The length prefix, little-endian, then the JSON.
template <auto make_json>
constexpr std::string prefixed() {
    std::string json = make_json();
    auto size = static_cast<std::uint32_t>(json.size());
    std::string out;
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((size >> shift) & 0xFF);
    return out + json;
}

template <std::size_t index>
constexpr std::string method_record() {
    return function_record(methods[index]);
}

}  // namespace
}  // namespace brevant::py

#define BREVANT_API_RECORD(number, make_json)                                                 \
    extern "C" BREVANT_EXPORTED constinit const auto                                           \
        PYO3_INTROSPECTION_1_##number = brevant::py::freeze_bytes<brevant::py::prefixed<make_json>>();

#define BREVANT_METHOD_RECORD(number, index) \
    BREVANT_API_RECORD(number, brevant::py::method_record<brevant::py::method::index>)

BREVANT_API_RECORD(5988477475393205572, brevant::py::module_record)
BREVANT_API_RECORD(6998409416174244723, brevant::py::class_record)
BREVANT_API_RECORD(6404678592017576537, brevant::py::new_record)
BREVANT_API_RECORD(17340105860892289241, brevant::py::val_fns_record)
BREVANT_METHOD_RECORD(17433503695534895230, val_null)
BREVANT_METHOD_RECORD(16244697570635051064, val_tag_type)
BREVANT_METHOD_RECORD(776435367811913223, validate_tag_and_value)
BREVANT_METHOD_RECORD(10548881081269663725, results_header)
BREVANT_METHOD_RECORD(2417477790047735858, first_shot_header)
BREVANT_METHOD_RECORD(15287398420859818500, shot_footer)
BREVANT_METHOD_RECORD(14480642654457886517, emit)
BREVANT_METHOD_RECORD(9637745682054119517, format_value)
BREVANT_METHOD_RECORD(16201573034674869283, write_shot)
BREVANT_METHOD_RECORD(5583005889328262263, write_first_shot)
BREVANT_METHOD_RECORD(13922185259224266879, emit_values_in_shot)
BREVANT_METHOD_RECORD(1242220387509149517, qir_labeled_output)
