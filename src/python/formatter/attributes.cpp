#include "python/formatter/attributes.hpp"

#include <optional>
#include <string_view>

#include "python/runtime/errors.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
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
        const std::optional<std::string_view> key_text = utf8_text(key.get());
        if (!key_text) throw_fetched();
        Ref value_str = checked(PyObject_Str(value.get()));
        const std::optional<std::string_view> value_text = utf8_text(value_str.get());
        if (!value_text) throw_fetched();
        map.set(*key_text, *value_text);
    }
    return map;
}

}  // namespace brevant::py
