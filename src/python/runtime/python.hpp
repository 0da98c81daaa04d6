#pragma once
// The one place the interpreter's headers come in: every binding file
// includes this, nothing under labeled_formatter/ does.

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#if !defined(Py_LIMITED_API) || Py_LIMITED_API != 0x030A0000
#error "brevant._native is built for the stable ABI of CPython 3.10 (Py_LIMITED_API=0x030A0000)"
#endif
