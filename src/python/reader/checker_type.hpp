#pragma once
// brevant._reader.Checker, the streaming checker behind brevant.checker, and
// the checker's tables as module attributes.

#include "python/runtime/python.hpp"

namespace brevant::py {

// The brevant._reader.Checker class object, created once per process. Borrowed.
PyObject* checker_class();

// Adds FINDING_MESSAGES, SCHEMAS and SCHEMA_VERSIONS to the module.
void add_checker_tables(PyObject* module);

}  // namespace brevant::py
