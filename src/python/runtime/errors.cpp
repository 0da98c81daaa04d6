#include "python/runtime/errors.hpp"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "python/runtime/names.hpp"
#include "python/runtime/process_once.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

std::atomic<PyObject*> panic_type_slot{nullptr};
std::once_flag panic_type_flag;

constexpr const char* panic_doc =
    "Raised when the native code of brevant fails.\n\n"
    "It derives from BaseException, like SystemExit, so that it is not caught\n"
    "by `except Exception` and normally propagates all the way, ending the\n"
    "interpreter.";

// The class the attribute `PanicException` of `home` holds, if any.
Ref registered_panic_type(PyObject* home) {
    Ref found = Ref::steal(PyObject_GetAttrString(home, "PanicException"));
    if (!found) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_fetched();
        PyErr_Clear();
    }
    return found;
}

// The class is one per process, yet every extension module links its own copy
// of this runtime. So it lives where each finds it without importing another:
// as the attribute `PanicException` of the module object
// sys.modules["pyo3_runtime"], named after the class's __module__, which also
// lets its instances pickle. The first module to need it creates both.
PyObject* create_or_find_panic_type() {
    PyObject* home = PyImport_AddModule("pyo3_runtime");  // borrowed; added when absent
    if (!home) throw_fetched();
    if (Ref found = registered_panic_type(home)) return found.release();
    Ref type = created(
        PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_doc, PyExc_BaseException, nullptr));
    // Creating it may have run Python code (a collection) that let another module register one first.
    if (Ref found = registered_panic_type(home)) return found.release();
    if (PyObject_SetAttrString(home, "PanicException", type.get()) < 0) throw_fetched();
    return type.release();
}

// Python code the module called raised a PanicException: report it and carry
// it on as a failure of this module.
[[noreturn]] void resume_panic() {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string message = "Unwrapped panic from Python code";
    if (Ref text = Ref::steal(PyObject_Str(value))) {
        if (const std::optional<std::string_view> utf8 = utf8_text(text.get())) message = *utf8;
    }
    PyErr_Clear();
    std::fputs("--- PanicException from Python code, resumed by brevant ---\n"
               "Python stack trace below:\n", stderr);
    PyErr_Restore(type, value, traceback);
    PyErr_PrintEx(0);
    throw InternalFailure{std::move(message)};
}

std::string type_qualname(PyObject* object) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
    Ref name = Ref::steal(PyObject_GetAttr(type, names().qualname));
    const std::optional<std::string_view> utf8 = name ? utf8_text(name.get()) : std::nullopt;
    if (!utf8) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return std::string(*utf8);
}

}  // namespace

PyObject* panic_exception_type() {
    return once_per_process(panic_type_slot, panic_type_flag, create_or_find_panic_type);
}

void throw_fetched() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        throw PythonError{};
    }
    // Every module finds PanicException when it is imported, so before that none can be pending.
    if (PyObject* panic = panic_type_slot.load(std::memory_order_acquire); panic && PyErr_ExceptionMatches(panic))
        resume_panic();
    throw PythonError{};
}

void throw_type_mismatch(PyObject* object, std::string_view expected) {
    std::string message = object == Py_None ? std::string("'None' is not an instance of '")
                                            : "'" + type_qualname(object) + "' object is not an instance of '";
    message.append(expected);
    message.push_back('\'');
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

void throw_object_creation_failed() {
    if (PyErr_Occurred()) PyErr_WriteUnraisable(nullptr);
    throw InternalFailure{"PyObject pointer is null"};
}

void raise_panic(std::string_view message) noexcept {
    try {
        std::fprintf(stderr, "brevant: internal failure: %.*s\n", static_cast<int>(message.size()),
                     message.data());
        PyObject* type = panic_exception_type();
        Ref text = created(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
        PyErr_SetObject(type, text.get());
    } catch (const PythonError&) {
        // Creating the exception itself failed; that failure is now pending.
    } catch (...) {
        if (!PyErr_Occurred()) PyErr_NoMemory();
    }
}

void throw_chained(PyObject* type, const char* message) {
    PyObject *fetched_type, *fetched_value, *fetched_traceback;
    PyErr_Fetch(&fetched_type, &fetched_value, &fetched_traceback);
    PyErr_NormalizeException(&fetched_type, &fetched_value, &fetched_traceback);
    Ref cause_type = Ref::steal(fetched_type), cause = Ref::steal(fetched_value);
    Ref traceback = Ref::steal(fetched_traceback);
    if (cause && traceback) PyException_SetTraceback(cause.get(), traceback.get());
    Ref error = checked(PyObject_CallFunction(type, "s", message));
    PyException_SetCause(error.get(), cause.release());
    PyErr_SetObject(type, error.get());
    throw PythonError{};
}

}  // namespace brevant::py
