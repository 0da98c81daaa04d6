#include "python/formatter/parse_shot.hpp"

#include <optional>
#include <string_view>

#include "common/compiler.hpp"
#include "labeled_formatter/emit.hpp"
#include "labeled_formatter/user_key.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

// The UTF-8 text of an entry's key, or false when the key is not a str or has
// no UTF-8 form (a lone surrogate): such entries are dropped silently. An out
// parameter, not an optional: returned as an optional, the text went through
// the stack on every entry (6% more instructions on `measure`).
BREVANT_INLINE bool key_text(PyObject* key, std::string_view& text) {
    if (Py_TYPE(key) != &PyUnicode_Type && !PyUnicode_Check(key)) return false;
    const std::optional<std::string_view> utf8 = utf8_text(key);
    if (!utf8) {
        PyErr_Clear();
        return false;
    }
    text = *utf8;
    return true;
}

// The paths other than the plain scalar's, out of line: inlined at each of the
// shot reader's call sites, their locals made its frame under ASan larger than
// deep re-entry allows.
BREVANT_NOINLINE void emit_classified(OutputBuffer& out, TypeRow type, std::string_view tag, PyObject* value,
                                      Classifier& classifier) {
    emit_value(out, type, tag, classifier.classify_value(value));
}

// The same for a value already found not to be a scalar.
BREVANT_NOINLINE void emit_non_scalar(OutputBuffer& out, TypeRow type, std::string_view tag, PyObject* value,
                                      Classifier& classifier) {
    emit_value(out, type, tag, classifier.classify_non_scalar(value));
}

BREVANT_INLINE void emit_user_value(std::string_view key, PyObject* value, Classifier& classifier, OutputBuffer& out) {
    // Entries that will neither be written nor counted need no classification.
    const auto entry = user_entry(key);
    if (!entry) return;
    // Types with a rule of their own take the general path. Asking before the
    // scalar is classified rather than after keeps one value fewer alive across
    // the classifier's calls (3% fewer instructions on `measure`).
    Scalar scalar;
    if (has_own_rule(entry->type)) {
        emit_classified(out, entry->type, entry->tag, value, classifier);
    } else if (classifier.classify_scalar(value, scalar)) {
        emit_plain_scalar(out, entry->type, entry->tag, scalar);
    } else {
        emit_non_scalar(out, entry->type, entry->tag, value, classifier);
    }
}

BREVANT_INLINE void emit_entry(PyObject* key, PyObject* value, Classifier& classifier, OutputBuffer& out) {
    std::string_view text;
    if (key_text(key, text)) emit_user_value(text, value, classifier, out);
}

// An exact tuple or list cannot run Python code while it is read, so its items
// can be borrowed.
BREVANT_INLINE bool read_exact_pair(PyObject* item, Classifier& classifier, OutputBuffer& out) {
    PyTypeObject* type = Py_TYPE(item);
    if (type == &PyTuple_Type) {
        if (PyTuple_Size(item) >= 2)
            emit_entry(PyTuple_GetItem(item, 0), PyTuple_GetItem(item, 1), classifier, out);
        return true;
    }
    if (type == &PyList_Type) {
        if (PyList_Size(item) >= 2) emit_entry(PyList_GetItem(item, 0), PyList_GetItem(item, 1), classifier, out);
        return true;
    }
    return false;
}

// Any other item goes through len() and item access with the ints 0 and 1,
// which may run Python code; the item is held while they do.
void read_item(PyObject* borrowed_item, Classifier& classifier, OutputBuffer& out) {
    if (borrowed_item == Py_None) return;
    Ref item = Ref::borrow(borrowed_item);
    Py_ssize_t length = PyObject_Size(item.get());
    if (length < 0) throw_fetched();
    if (length < 2) return;
    Ref key = checked(PyObject_GetItem(item.get(), names().zero));
    std::string_view text;
    if (!key_text(key.get(), text)) return;
    Ref value = checked(PyObject_GetItem(item.get(), names().one));
    emit_user_value(text, value.get(), classifier, out);
}

}  // namespace

// Everything this calls that the compiler can see is inlined into it, so that
// an entry's key, tag and value pass from reading to writing in registers.
// Measured against always_inline on the per-entry helpers alone (to_chars and
// some key compares then stay calls): 2-6% more instructions per workload, and
// no better with link-time optimisation. The cost: under ASan this frame is
// about 14 KB, hence the sanitizer run's larger stack.
BREVANT_FLATTEN BREVANT_HOT_ALIGNED void parse_shot(PyObject* shot, Classifier& classifier, OutputBuffer& out) {
    PyTypeObject* type = Py_TYPE(shot);
    if (type == &PyList_Type) {
        // As the list iterator does, the length is read again whenever Python
        // code has run for an item, since that code may change the list.
        Py_ssize_t size = PyList_Size(shot);
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject* item = PyList_GetItem(shot, i);
            if (read_exact_pair(item, classifier, out)) continue;
            read_item(item, classifier, out);
            size = PyList_Size(shot);
        }
        return;
    }
    if (type == &PyTuple_Type) {
        const Py_ssize_t size = PyTuple_Size(shot);
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject* item = PyTuple_GetItem(shot, i);
            if (!read_exact_pair(item, classifier, out)) read_item(item, classifier, out);
        }
        return;
    }
    Ref iterator = checked(PyObject_GetIter(shot));
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!read_exact_pair(item.get(), classifier, out)) read_item(item.get(), classifier, out);
    }
    if (PyErr_Occurred()) throw_fetched();
}

}  // namespace brevant::py
