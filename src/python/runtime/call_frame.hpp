#pragma once
// The frame every call passes through: argument binding with the interpreter's
// own wording of its TypeErrors.

#include <span>
#include <string_view>

#include "python/runtime/method_info.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

struct CallSignature {
    std::string_view class_name;
    std::string_view function_name;
    std::span<const Param> params;
    Passing passing = Passing::PositionalOrKeyword;
};

// Fills `slots` (one per parameter) with borrowed references, or throws the
// binding TypeError; a parameter with a default that was not passed stays
// null. Takes no references and allocates nothing on success.
void bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** slots);
void bind_tuple_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs, PyObject** slots);

// The UTF-8 text of an argument that must be a str. On failure the error
// carries the note "while processing '<name>'" where the interpreter has notes.
std::string_view str_argument(std::string_view name, PyObject* object);

}  // namespace brevant::py
