#pragma once
// Classification: a caller's Python value read once into the value model.
// Nothing here raises or runs Python code; conversion errors are cleared.

#include <optional>
#include <vector>

#include "common/compiler.hpp"
#include "labeled_formatter/value.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

// Subclasses of bool, int and float; absent for anything else.
std::optional<Scalar> classify_scalar_slow(PyObject* object) noexcept;

// Classifies values, keeping one list's items at a time in storage it reuses,
// so that a call allocates for lists once, not once per list.
class Classifier {
public:
    // False where the object is not a bool, a 64-bit int or a float (subclasses included).
    bool classify_scalar(PyObject* object, Scalar& out) const noexcept;
    // The returned value's list items stay valid until the next call.
    OutputValue classify_value(PyObject* object);
    // The same, for an object that classify_scalar has turned down.
    OutputValue classify_non_scalar(PyObject* object);

private:
    OutputValue classify_list(PyObject* list);
    std::vector<Scalar> items_;
    // The interpreter's own 0 and 1, which are what measured bits almost
    // always are: found by identity, they need no call into the interpreter.
    PyObject* const zero_ = names().zero;
    PyObject* const one_ = names().one;
};

BREVANT_INLINE bool Classifier::classify_scalar(PyObject* object, Scalar& out) const noexcept {
    // Exact types first, most frequent first; bool cannot match PyLong_Type
    // here, and subclasses go the slow way.
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyLong_Type) {
        // One branch for both, not one each: on random bits the first of two
        // mispredicts half the time (8% of `mixed`).
        const bool is_one = object == one_;
        bool is_bit = is_one | (object == zero_);
        BREVANT_OPAQUE(is_bit);
        if (is_bit) {
            out = Scalar::from_int(is_one);
            return true;
        }
        int overflow;
        long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow) return false;
        out = Scalar::from_int(value);
        return true;
    }
    if (type == &PyFloat_Type) {
        out = Scalar::from_double(PyFloat_AsDouble(object));
        return true;
    }
    if (object == Py_True || object == Py_False) {
        out = Scalar::from_bool(object == Py_True);
        return true;
    }
    // A scalar of its own for the call, so that `out` need not live in memory
    // and can stay in registers on the paths above.
    const std::optional<Scalar> slow = classify_scalar_slow(object);
    if (!slow) return false;
    out = *slow;
    return true;
}

inline OutputValue Classifier::classify_value(PyObject* object) {
    Scalar scalar;
    if (classify_scalar(object, scalar)) return OutputValue::of_scalar(scalar);
    return classify_non_scalar(object);
}

inline OutputValue Classifier::classify_non_scalar(PyObject* object) {
    if (PyType_GetFlags(Py_TYPE(object)) & Py_TPFLAGS_LIST_SUBCLASS) return classify_list(object);
    return OutputValue::invalid();
}

}  // namespace brevant::py
