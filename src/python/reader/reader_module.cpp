// The module definition of brevant._reader and its one execution step.

#include "python/reader/checker_type.hpp"
#include "python/reader/document_objects.hpp"
#include "python/reader/parse_error_type.hpp"
#include "python/reader/reader_type.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/ref.hpp"
#include "schema/qir_types.hpp"
#include "schema/records.hpp"

namespace brevant::py {
namespace {

// The attribute keys the formatter writes, for the package's converter.
Ref attribute_keys_object() {
    Ref keys = created(PyTuple_New(static_cast<Py_ssize_t>(std::size(attribute_keys))));
    for (std::size_t i = 0; i < std::size(attribute_keys); ++i)
        PyTuple_SetItem(keys.get(), static_cast<Py_ssize_t>(i), text_object(attribute_keys[i].key).release());
    return keys;
}

// What value each raw type holds, by a word that is no type name, so that the
// package turns read values into Python ones without a table of type names.
constexpr std::string_view value_kind(QirType type) noexcept {
    switch (type) {
        case QirType::Result: return "bit";
        case QirType::Double: return "float";
        case QirType::Int: return "int";
        case QirType::Bool: return "bool";
        case QirType::ResultArray: return "bits";
        case QirType::Array: return "list";
        case QirType::Tuple: return "tuple";
    }
    return {};
}

Ref raw_type_kinds_object() {
    Ref kinds = created(PyDict_New());
    for (const RawType& raw : raw_types)
        if (PyDict_SetItem(kinds.get(), text_object(raw.raw_name).get(), text_object(value_kind(raw.type)).get()) < 0)
            throw_fetched();
    return kinds;
}

int exec_module(PyObject* module) {
    return guarded<int>(-1, [&] {
        if (PyModule_AddObjectRef(module, "Reader", reader_class()) < 0) throw_fetched();
        if (PyModule_AddObjectRef(module, "LabeledParseError", parse_error_class()) < 0) throw_fetched();
        if (PyModule_AddObjectRef(module, "PanicException", panic_exception_type()) < 0) throw_fetched();
        if (PyModule_AddObjectRef(module, "ATTRIBUTE_KEYS", attribute_keys_object().get()) < 0) throw_fetched();
        if (PyModule_AddObjectRef(module, "RAW_TYPE_KINDS", raw_type_kinds_object().get()) < 0) throw_fetched();
        if (PyModule_AddObjectRef(module, "Checker", checker_class()) < 0) throw_fetched();
        add_checker_tables(module);
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_reader", "The native reader and checker of QIR output records.", 0, nullptr, module_slots,
    nullptr,               nullptr,   nullptr,
};

}  // namespace
}  // namespace brevant::py

PyMODINIT_FUNC PyInit__reader() { return PyModuleDef_Init(&brevant::py::module_def); }
