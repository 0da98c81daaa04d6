#pragma once
// Fixed Python objects the module uses on every call, created once per process.

#include "python/runtime/python.hpp"

namespace brevant::py {

struct Names {
    PyObject* all;              // "__all__"
    PyObject* qualname;         // "__qualname__"
    PyObject* add_note;         // "add_note"
    PyObject* write;            // "write"
    PyObject* logging;          // "logging"
    PyObject* get_logger;       // "getLogger"
    PyObject* warning;          // "warning"
    PyObject* logger_name;      // "brevant.labeled_formatter"
    PyObject* warning_message;  // "Skipping malformed QIR output value"
    PyObject* empty;            // ""
    PyObject* zero;             // 0, the index of an entry's key
    PyObject* one;              // 1, the index of an entry's value
};

const Names& names();

}  // namespace brevant::py
