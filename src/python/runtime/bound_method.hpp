#pragma once
// Methods bound from a module's table of MethodInfo: the entry point that binds
// the arguments, and the docstring the interpreter shows. A class describes
// itself to these templates as a Binding:
//
//     struct Binding {
//         static constexpr std::string_view class_name = ...;
//         static constexpr const auto& methods = ...;  // MethodInfo[]
//         // Runs `call(context...)` for a call on `self`; the context (the
//         // instance's state, say) comes before a body's bound arguments.
//         static Ref run(PyObject* self, auto&& call);
//     };

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "python/runtime/call_frame.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/method_info.hpp"
#include "python/runtime/python.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/static_text.hpp"

namespace brevant::py {

// "name($self, a, b=True)\n--\n\n": the interpreter shows the part before the
// "--" line as __text_signature__ and what follows it as __doc__.
constexpr std::string text_signature(std::string_view name, std::span<const Param> params, Passing passing,
                                     bool method) {
    std::string text(name);
    text += method ? "($self" : "(";
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (method || i > 0) text += ", ";
        text += params[i].name;
        if (!params[i].required()) {
            text += '=';
            text += params[i].default_text;
        }
    }
    if (passing == Passing::PositionalOnly && !params.empty()) text += ", /";
    return text + ")\n--\n\n";
}

template <class Binding, std::size_t index, auto body>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        constexpr const MethodInfo& info = Binding::methods[index];
        constexpr CallSignature signature{Binding::class_name, info.name, info.params, info.passing};
        constexpr std::size_t count = info.params.size();
        static_assert(count <= max_params);
        PyObject* slots[max_params] = {};
        PyObject* const* bound = args;
        // The common call, all arguments by position, binds without copying.
        if (kwnames || nargs != static_cast<Py_ssize_t>(count)) {
            bind_fastcall(signature, args, nargs, kwnames, slots);
            bound = slots;
        }
        return Binding::run(self, [&](auto&... context) -> Ref {
            return [&]<std::size_t... param>(std::index_sequence<param...>) {
                return body(context..., bound[param]...);
            }(std::make_index_sequence<count>());
        }).release();
    });
}

template <class Binding, std::size_t index>
constexpr auto method_doc = freeze_text<[] {
    const MethodInfo& info = Binding::methods[index];
    return text_signature(info.name, info.params, info.passing, true) + std::string(info.doc);
}>();

template <class Binding, std::size_t index, auto body>
PyMethodDef method_def() {
    return {Binding::methods[index].name.data(),
            reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_entry<Binding, index, body>)),
            METH_FASTCALL | METH_KEYWORDS, method_doc<Binding, index>.c_str()};
}

}  // namespace brevant::py
