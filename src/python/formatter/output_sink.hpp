#pragma once
// How a call's text and warnings leave the module: one WARNING per skipped
// value through `logging`, then the whole text in one `qo.write` call.

#include <string_view>

#include "labeled_formatter/output_buffer.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

// Logs the buffer's skipped values. Touches nothing in Python when none were skipped.
void finish_output(const OutputBuffer& out);

// One `qo.write(text)` call; the caller skips it for an empty text.
void write_output(PyObject* qo, std::string_view text);

// The text as a new str.
PyObject* new_str(std::string_view text);

}  // namespace brevant::py
