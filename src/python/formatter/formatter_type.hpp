#pragma once

#include "python/runtime/python.hpp"

namespace brevant::py {

// The QirLabeledFormatter class object: created on first need, then the same
// object for the life of the process (re-imports and reloads included).
// Borrowed reference.
PyObject* formatter_class();

}  // namespace brevant::py
