#include "python/attributes.hpp"

#include <string_view>

#include "python/errors.hpp"
#include "python/ref.hpp"

namespace brevant::py {
namespace {

std::string_view utf8_text(PyObject* text) {
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) throw_fetched();
    return {utf8, static_cast<std::size_t>(size)};
}

}  // namespace

AttributeMap convert_attributes(PyObject* attributes) {
    // The dict's type decides, not duck typing: other mappings are rejected.
    if (!PyDict_Check(attributes)) throw_type_mismatch(attributes, "dict");
    AttributeMap map;
    const Py_ssize_t size = PyDict_Size(attributes);
    Py_ssize_t expected = size;
    Py_ssize_t position = 0;
    PyObject *borrowed_key, *borrowed_value;
    for (;;) {
        // str() of a value may run code that changes the dict under the walk.
        if (PyDict_Size(attributes) != size) throw InternalFailure{"dictionary changed size during iteration"};
        if (expected == -1) throw InternalFailure{"dictionary keys changed during iteration"};
        if (!PyDict_Next(attributes, &position, &borrowed_key, &borrowed_value)) break;
        --expected;
        Ref key = Ref::borrow(borrowed_key), value = Ref::borrow(borrowed_value);
        if (!PyUnicode_Check(key.get())) throw_type_mismatch(key.get(), "str");
        std::string_view key_text = utf8_text(key.get());
        Ref value_text = checked(PyObject_Str(value.get()));
        map.set(key_text, utf8_text(value_text.get()));
    }
    return map;
}

}  // namespace brevant::py
