#pragma once
// LabeledParseError, the ValueError a reader raises (or collects) for a
// located departure from the record format.

#include "labeled_reader/parse_error.hpp"
#include "python/runtime/python.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

// Created on first need, then the same class for the life of the process. Borrowed.
PyObject* parse_error_class();

Ref parse_error_object(const reader::ParseError& error);

[[noreturn]] void throw_parse_error(const reader::ParseError& error);

}  // namespace brevant::py
