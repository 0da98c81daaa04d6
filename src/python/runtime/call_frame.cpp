#include "python/runtime/call_frame.hpp"

#include <optional>
#include <string>
#include <vector>

#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

std::string display_name(const CallSignature& signature) {
    std::string name(signature.class_name);
    name.push_back('.');
    name.append(signature.function_name);
    name.append("()");
    return name;
}

[[noreturn]] void throw_surplus(const CallSignature& signature, Py_ssize_t nargs) {
    std::string message = display_name(signature) + " takes " + std::to_string(signature.params.size()) +
                          " positional arguments but " + std::to_string(nargs) + (nargs == 1 ? " was" : " were") +
                          " given";
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

[[noreturn]] void throw_unknown_keyword(const CallSignature& signature, PyObject* keyword) {
    // %S: a keyword whose UTF-8 text cannot be had is still shown as str() shows it.
    std::string prefix = display_name(signature) + " got an unexpected keyword argument '";
    PyErr_Format(PyExc_TypeError, "%s%S'", prefix.c_str(), keyword);
    throw PythonError{};
}

[[noreturn]] void throw_duplicate(const CallSignature& signature, std::string_view name) {
    std::string message = display_name(signature) + " got multiple values for argument '" + std::string(name) + "'";
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

[[noreturn]] void throw_missing(const CallSignature& signature, PyObject** slots) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < signature.params.size(); ++i)
        if (!slots[i] && signature.params[i].required()) missing.push_back(signature.params[i].name);
    std::string list;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) list += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        list += "'" + std::string(missing[i]) + "'";
    }
    std::string message = display_name(signature) + " missing " + std::to_string(missing.size()) +
                          " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": " + list;
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

void bind_keyword(const CallSignature& signature, PyObject* keyword, PyObject* value, PyObject** slots) {
    const std::optional<std::string_view> name = utf8_text(keyword);
    if (!name) {
        PyErr_Clear();
        throw_unknown_keyword(signature, keyword);
    }
    if (signature.passing == Passing::PositionalOnly) throw_unknown_keyword(signature, keyword);
    for (std::size_t i = 0; i < signature.params.size(); ++i) {
        if (signature.params[i].name != *name) continue;
        if (slots[i]) throw_duplicate(signature, *name);
        slots[i] = value;
        return;
    }
    throw_unknown_keyword(signature, keyword);
}

void check_all_bound(const CallSignature& signature, PyObject** slots) {
    for (std::size_t i = 0; i < signature.params.size(); ++i)
        if (!slots[i] && signature.params[i].required()) throw_missing(signature, slots);
}

// Adds the note to the pending exception, if the interpreter has notes (3.11+);
// the exception itself stays exactly as it was.
void add_note(std::string_view name) {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string note = "while processing '" + std::string(name) + "'";
    Ref method = Ref::steal(PyObject_GetAttr(value, names().add_note));
    Ref text = method ? Ref::steal(PyUnicode_FromStringAndSize(note.data(), static_cast<Py_ssize_t>(note.size())))
                      : Ref();
    Ref result = text ? Ref::steal(PyObject_CallFunctionObjArgs(method.get(), text.get(), nullptr)) : Ref();
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
}

}  // namespace

void bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots) {
    const auto count = static_cast<Py_ssize_t>(signature.params.size());
    if (nargs > count) throw_surplus(signature, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
    if (kwnames) {
        Py_ssize_t keywords = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k)
            bind_keyword(signature, PyTuple_GetItem(kwnames, k), args[nargs + k], slots);
    }
    check_all_bound(signature, slots);
}

void bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs, PyObject** slots) {
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs > static_cast<Py_ssize_t>(signature.params.size())) throw_surplus(signature, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
    if (kwargs) {
        Py_ssize_t position = 0;
        PyObject *keyword, *value;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) bind_keyword(signature, keyword, value, slots);
    }
    check_all_bound(signature, slots);
}

std::string_view str_argument(std::string_view name, PyObject* object) {
    if (!PyUnicode_Check(object)) {
        try {
            throw_type_mismatch(object, "str");
        } catch (const PythonError&) {
            add_note(name);
            throw;
        }
    }
    const std::optional<std::string_view> text = utf8_text(object);
    if (!text) {
        add_note(name);
        throw_fetched();
    }
    return *text;
}

}  // namespace brevant::py
