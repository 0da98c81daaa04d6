#pragma once
// The UTF-8 text of a Python str. The interpreter caches it inside the object,
// so the view stays valid as long as the object lives.
#include <cstddef>
#include <optional>
#include <string_view>

#include "common/compiler.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

// Absent when the object is not a str or has no UTF-8 form (a lone
// surrogate); the interpreter's error is then pending, for the caller to
// raise or clear.
BREVANT_INLINE std::optional<std::string_view> utf8_text(PyObject* str) noexcept {
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
    if (!utf8) return std::nullopt;
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

}  // namespace brevant::py
