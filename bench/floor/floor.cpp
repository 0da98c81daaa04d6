// The lower bound a formatter of shot results can hope to reach: the Python
// reads the format needs (walk shots and entries, len, items 0 and 1, the
// key's UTF-8, the value's kind and number), plus copying key and value text
// into one buffer that becomes one str. No record logic, so any formatter is
// judged against the cost of reading its input and building its output.
#include <Python.h>

#include <charconv>
#include <string>

namespace {

// Borrowed item of an exact list or tuple; a new reference otherwise, since a
// subclass may override __getitem__. `owned` tells the caller to release it.
PyObject* entry_item(PyObject* entry, Py_ssize_t index, PyObject* py_index, bool& owned) {
    PyTypeObject* type = Py_TYPE(entry);
    owned = false;
    if (type == &PyTuple_Type) return PyTuple_GetItem(entry, index);
    if (type == &PyList_Type) return PyList_GetItem(entry, index);
    owned = true;
    return PyObject_GetItem(entry, py_index);
}

void append_int(std::string& out, long long v) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

void append_double(std::string& out, double v) {
    char digits[32];
    auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, static_cast<size_t>(end - digits));
}

// Appends the text of a bool, int or float; false for any other object.
bool append_scalar(std::string& out, PyObject* v) {
    PyTypeObject* type = Py_TYPE(v);
    if (type == &PyBool_Type) {
        out.append(v == Py_True ? "True" : "False");
        return true;
    }
    if (type == &PyLong_Type || (type != &PyFloat_Type && PyLong_Check(v))) {
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (overflow != 0) return false;
        if (n == -1 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        append_int(out, n);
        return true;
    }
    if (type == &PyFloat_Type || PyFloat_Check(v)) {
        double d = PyFloat_AsDouble(v);
        if (d == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return false;
        }
        append_double(out, d);
        return true;
    }
    return false;
}

void append_value(std::string& out, PyObject* v) {
    if (append_scalar(out, v)) return;
    if (Py_TYPE(v) != &PyList_Type && !PyList_Check(v)) return;
    out.push_back('[');
    Py_ssize_t n = PyList_Size(v);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i != 0) out.append(", ");
        if (!append_scalar(out, PyList_GetItem(v, i))) break;
    }
    out.push_back(']');
}

// Returns false with a Python exception set.
bool append_entry(std::string& out, PyObject* entry, PyObject* zero, PyObject* one) {
    if (entry == Py_None) return true;
    PyTypeObject* type = Py_TYPE(entry);
    Py_ssize_t len = type == &PyTuple_Type  ? PyTuple_Size(entry)
                     : type == &PyList_Type ? PyList_Size(entry)
                                            : PyObject_Size(entry);
    if (len < 0) return false;
    if (len < 2) return true;

    bool owned = false;
    PyObject* key = entry_item(entry, 0, zero, owned);
    if (key == nullptr) return false;
    Py_ssize_t key_size = 0;
    const char* key_text = Py_TYPE(key) == &PyUnicode_Type || PyUnicode_Check(key)
                               ? PyUnicode_AsUTF8AndSize(key, &key_size)
                               : nullptr;
    if (key_text == nullptr) {
        PyErr_Clear();
        if (owned) Py_DECREF(key);
        return true;
    }
    out.append(key_text, static_cast<size_t>(key_size));
    if (owned) Py_DECREF(key);  // the UTF-8 copy is already in the buffer

    PyObject* value = entry_item(entry, 1, one, owned);
    if (value == nullptr) return false;
    out.push_back('\t');
    append_value(out, value);
    out.push_back('\n');
    if (owned) Py_DECREF(value);
    return true;
}

bool append_shot(std::string& out, PyObject* shot, PyObject* zero, PyObject* one) {
    if (Py_TYPE(shot) == &PyList_Type) {
        Py_ssize_t n = PyList_Size(shot);
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (!append_entry(out, PyList_GetItem(shot, i), zero, one)) return false;
        }
        return true;
    }
    PyObject* it = PyObject_GetIter(shot);
    if (it == nullptr) return false;
    while (PyObject* entry = PyIter_Next(it)) {
        bool ok = append_entry(out, entry, zero, one);
        Py_DECREF(entry);
        if (!ok) {
            Py_DECREF(it);
            return false;
        }
    }
    Py_DECREF(it);
    return !PyErr_Occurred();
}

PyObject* copy_text(PyObject*, PyObject* results) {
    PyObject* zero = PyLong_FromLong(0);
    PyObject* one = PyLong_FromLong(1);
    if (zero == nullptr || one == nullptr) {
        Py_XDECREF(zero);
        Py_XDECREF(one);
        return nullptr;
    }
    std::string out;
    bool ok = true;
    PyObject* it = PyObject_GetIter(results);
    if (it == nullptr) ok = false;
    while (ok) {
        PyObject* shot = PyIter_Next(it);
        if (shot == nullptr) {
            ok = !PyErr_Occurred();
            break;
        }
        ok = append_shot(out, shot, zero, one);
        Py_DECREF(shot);
    }
    Py_XDECREF(it);
    Py_DECREF(zero);
    Py_DECREF(one);
    if (!ok) return nullptr;
    return PyUnicode_DecodeUTF8(out.data(), static_cast<Py_ssize_t>(out.size()), nullptr);
}

PyMethodDef methods[] = {
    {"copy_text", copy_text, METH_O,
     "Copy every entry's key and value text of a list of shots into one str."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT, "_floor", nullptr, 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__floor() { return PyModule_Create(&module); }
