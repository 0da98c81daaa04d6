#include "python/reader/parse_error_type.hpp"

#include <atomic>
#include <mutex>
#include <string>

#include "python/runtime/errors.hpp"
#include "python/runtime/process_once.hpp"

namespace brevant::py {
namespace {

constexpr const char* doc =
    "A QIR output document that cannot be read.\n\n"
    "`line` (1-based) and `column` (1-based byte offset in the line) locate the\n"
    "departure; the message is one line and starts with the location.";

std::atomic<PyObject*> class_slot{nullptr};
std::once_flag class_flag;

void set_int(PyObject* object, const char* name, std::uint64_t value) {
    Ref number = created(PyLong_FromUnsignedLongLong(value));
    if (PyObject_SetAttrString(object, name, number.get()) < 0) throw_fetched();
}

}  // namespace

PyObject* parse_error_class() {
    return once_per_process(class_slot, class_flag, [] {
        return created(PyErr_NewExceptionWithDoc("brevant.LabeledParseError", doc, PyExc_ValueError, nullptr))
            .release();
    });
}

Ref parse_error_object(const reader::ParseError& error) {
    std::string text = "line " + std::to_string(error.line) + ", column " + std::to_string(error.column) + ": " +
                       error.message;
    Ref message = created(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    Ref object = checked(PyObject_CallFunctionObjArgs(parse_error_class(), message.get(), nullptr));
    set_int(object.get(), "line", error.line);
    set_int(object.get(), "column", error.column);
    return object;
}

void throw_parse_error(const reader::ParseError& error) {
    Ref object = parse_error_object(error);
    PyErr_SetObject(parse_error_class(), object.get());
    throw PythonError{};
}

}  // namespace brevant::py
