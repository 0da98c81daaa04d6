#pragma once

#include "python/runtime/python.hpp"

namespace brevant::py {

// The brevant._reader.Reader class object, created once per process. Borrowed.
PyObject* reader_class();

}  // namespace brevant::py
