#pragma once
// The quick scan from labeled text to rows of bits (labeled_reader/bit_scan),
// as functions of brevant._columns over a capsule that owns the scan.

#include "python/runtime/python.hpp"

namespace brevant::py {

PyObject* bit_scan(PyObject*, PyObject* args);        // (labels or None, reversed) -> scan
PyObject* bit_scan_feed(PyObject*, PyObject* args);   // (scan, str or bytes) -> False once stopped
PyObject* bit_scan_finish(PyObject*, PyObject* scan); // -> False unless the text ended after a shot
PyObject* bit_scan_take(PyObject*, PyObject* args);   // (scan, rows) -> (bytearray, rows, width)
PyObject* bit_scan_ready(PyObject*, PyObject* scan);  // -> rows ready

}  // namespace brevant::py
