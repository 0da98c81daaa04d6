#pragma once
// How failures travel inside the binding and how they leave it.
//
// Inside, a failure is a C++ exception: PythonError when the interpreter's
// error indicator already holds the exception, InternalFailure for a fault of
// the module itself. Every entry point runs its body under `guarded`, which
// turns them back into the interpreter's protocol, so no C++ exception ever
// reaches the interpreter.

#include <new>
#include <string>
#include <string_view>

#include "python/runtime/python.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

struct PythonError {};

struct InternalFailure {
    std::string message;
};

// After an interpreter call reported failure: raise what it left pending.
[[noreturn]] void throw_fetched();

// The TypeError for an object of the wrong type, e.g. "'int' object is not an
// instance of 'str'".
[[noreturn]] void throw_type_mismatch(PyObject* object, std::string_view expected);

// The interpreter could not create an object the module asked for.
[[noreturn]] void throw_object_creation_failed();

// A new reference from the interpreter, or the failure it reported.
inline Ref checked(PyObject* result) {
    if (!result) throw_fetched();
    return Ref::steal(result);
}

// A new object the module itself asked for (a str, tuple or list).
inline Ref created(PyObject* result) {
    if (!result) throw_object_creation_failed();
    return Ref::steal(result);
}

// The process-wide class of internal failures, pyo3_runtime.PanicException
// (borrowed, lives until the process ends). Every module asks for it when it is
// imported, so that it recognises one raised by another module.
PyObject* panic_exception_type();

// Sets PanicException(message) as the pending exception, after a report on stderr.
void raise_panic(std::string_view message) noexcept;

// Raises `type(message)` with the pending exception as its __cause__.
[[noreturn]] void throw_chained(PyObject* type, const char* message);

template <class Result, class Body>
Result guarded(Result on_failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const PythonError&) {
    } catch (const InternalFailure& failure) {
        raise_panic(failure.message);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_panic(error.what());
    } catch (...) {
        raise_panic("unknown C++ exception");
    }
    return on_failure;
}

}  // namespace brevant::py
