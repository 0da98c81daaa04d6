#include "python/formatter/classify.hpp"

namespace brevant::py {

std::optional<Scalar> classify_scalar_slow(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyBool_Type) return Scalar::from_bool(object == Py_True);
    if (PyType_GetFlags(type) & Py_TPFLAGS_LONG_SUBCLASS) {
        int overflow;
        long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow || (value == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return std::nullopt;
        }
        return Scalar::from_int(value);
    }
    if (type == &PyFloat_Type || PyType_IsSubtype(type, &PyFloat_Type)) {
        double value = PyFloat_AsDouble(object);
        if (value == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return std::nullopt;
        }
        return Scalar::from_double(value);
    }
    return std::nullopt;
}

OutputValue Classifier::classify_list(PyObject* list) {
    // Read from the list's own storage: a subclass's __iter__ or __getitem__
    // is never used. Classifying a scalar runs no Python code, so the list
    // cannot change while it is read.
    const Py_ssize_t size = PyList_Size(list);
    items_.clear();
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = PyList_GetItem(list, i);
        Scalar scalar;
        if (!item) {
            PyErr_Clear();
            break;
        }
        if (!classify_scalar(item, scalar)) return OutputValue::invalid();
        items_.push_back(scalar);
    }
    return OutputValue::of_list(items_);
}

}  // namespace brevant::py
