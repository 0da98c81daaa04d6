#pragma once

#include "python/method_table.hpp"
#include "python/python.hpp"

namespace brevant::py {

// The type's method table, in the order of `methods`, NULL-terminated.
extern PyMethodDef method_defs[method::count + 1];

}  // namespace brevant::py
