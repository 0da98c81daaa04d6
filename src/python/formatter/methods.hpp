#pragma once

#include "python/formatter/method_table.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

// The type's method table, in the order of `methods`, NULL-terminated.
extern PyMethodDef method_defs[method::count + 1];

}  // namespace brevant::py
