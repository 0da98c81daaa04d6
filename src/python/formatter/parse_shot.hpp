#pragma once
// Reading a shot: each entry "(key, value)" is read with the generic Python
// protocols and its record rendered at once into the call's buffer.
//
// Rendering while reading is invisible to callers: a failure anywhere in a
// call discards the whole buffer, and skipped values are reported only after
// all of the call's text is built.

#include "labeled_formatter/output_buffer.hpp"
#include "python/formatter/classify.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

// Appends the OUTPUT records of the shot's user values and counts its
// malformed ones. Raises whatever iteration, len() or item access raise.
void parse_shot(PyObject* shot, Classifier& classifier, OutputBuffer& out);

}  // namespace brevant::py
