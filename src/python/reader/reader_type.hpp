#pragma once

#include <string_view>

#include "python/runtime/python.hpp"

namespace brevant::py {

// The brevant._reader.Reader class object, created once per process. Borrowed.
PyObject* reader_class();

// The bytes of a chunk fed to the reader or the checker: a str's UTF-8, or
// the contents of bytes or a bytearray.
std::string_view chunk_bytes(PyObject* data);

}  // namespace brevant::py
