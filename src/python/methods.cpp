// The bodies of QirLabeledFormatter's methods. Each converts its Python
// inputs, builds its whole text in one OutputBuffer, and only then reports
// warnings and hands the text over.

#include "python/methods.hpp"

#include <optional>
#include <string_view>

#include "labeled_formatter/emit.hpp"
#include "labeled_formatter/records.hpp"
#include "labeled_formatter/value_text.hpp"
#include "python/attributes.hpp"
#include "python/call_frame.hpp"
#include "python/classify.hpp"
#include "python/errors.hpp"
#include "python/names.hpp"
#include "python/output_sink.hpp"
#include "python/parse_shot.hpp"
#include "python/ref.hpp"
#include "python/static_text.hpp"

namespace brevant::py {
namespace {

using Args = PyObject* const*;

Ref py_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
Ref py_none() { return Ref::borrow(Py_None); }

// A str argument's UTF-8 text; absent for any other object or a str without
// one (a lone surrogate), with the conversion error cleared.
std::optional<std::string_view> optional_text(PyObject* object) {
    if (!PyUnicode_Check(object)) return std::nullopt;
    Py_ssize_t size;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (!utf8) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

void deliver(PyObject* qo, const OutputBuffer& out) {
    finish_output(out);
    if (!out.text.empty()) write_output(qo, out.text.view());
}

// The first shot's header goes in front of its records, which were rendered
// while the shot was read, before the attributes could be converted.
void put_first_shot_header(OutputBuffer& out, const AttributeMap& attributes, bool with_results_header) {
    TextBuffer header;
    if (with_results_header) header.append(results_header_text);
    emit_first_shot_header(header, attributes);
    out.text.prepend(header.view());
}

Ref val_null(Args a) { return py_bool(a[0] != Py_None && a[1] != Py_None); }

Ref val_tag_type(Args a) { return py_bool(optional_text(a[0]).has_value()); }

Ref validate_tag_and_value(Args a) {
    bool usable_tag = optional_text(a[0]).has_value();
    return py_bool(usable_tag && a[1] != Py_None);
}

Ref write_fixed_text(PyObject* qo, std::string_view text) {
    OutputBuffer out;
    out.text.append(text);
    deliver(qo, out);
    return py_none();
}

Ref results_header(Args a) { return write_fixed_text(a[0], results_header_text); }

Ref first_shot_header(Args a) {
    AttributeMap attributes = convert_attributes(a[1]);
    OutputBuffer out;
    emit_first_shot_header(out.text, attributes);
    deliver(a[0], out);
    return py_none();
}

Ref shot_footer(Args a) { return write_fixed_text(a[0], shot_end_text); }

Ref emit(Args a) {
    OutputBuffer out;
    // A type that is not a str has no QIR type: nothing is written or counted.
    std::optional<QirType> type = qir_type_for(optional_text(a[1]).value_or(std::string_view()));
    if (type) {
        std::optional<std::string_view> tag = optional_text(a[2]);
        Classifier classifier;
        emit_value(out, *type, tag ? &*tag : nullptr, classifier.classify_value(a[3]));
    }
    deliver(a[0], out);
    return py_none();
}

Ref format_value(Args a) {
    std::string_view type = str_argument("type_str", a[0]);
    Classifier classifier;
    OutputValue value = classifier.classify_value(a[1]);
    TextBuffer text;
    switch (special_text(text, type, value)) {
        case FormatOutcome::Text: return Ref::steal(new_str(text.view()));
        case FormatOutcome::Unchanged: return Ref::borrow(a[1]);
        case FormatOutcome::Rejected: break;
    }
    return py_none();
}

Ref write_shot(Args a) {
    OutputBuffer out;
    Classifier classifier;
    out.text.append(shot_start_text);
    parse_shot(a[1], classifier, out);
    out.text.append(shot_end_text);
    deliver(a[0], out);
    return py_none();
}

Ref write_first_shot(Args a) {
    OutputBuffer out(first_shot_header_room);
    Classifier classifier;
    parse_shot(a[1], classifier, out);
    out.text.append(shot_end_text);
    // After the shot: a bad shot is reported in preference to bad attributes.
    AttributeMap attributes = convert_attributes(a[2]);
    put_first_shot_header(out, attributes, false);
    deliver(a[0], out);
    return py_none();
}

Ref emit_values_in_shot(Args a) {
    OutputBuffer out;
    Classifier classifier;
    parse_shot(a[1], classifier, out);
    deliver(a[0], out);
    return py_none();
}

// Calls `read(shot)` for each shot as iteration yields it. A shot is held
// while it is read, since reading it may run code that changes `results`.
template <class Read>
void for_each_shot(PyObject* results, Read&& read) {
    PyTypeObject* type = Py_TYPE(results);
    if (type == &PyList_Type) {
        for (Py_ssize_t i = 0; i < PyList_Size(results); ++i) read(Ref::borrow(PyList_GetItem(results, i)).get());
        return;
    }
    if (type == &PyTuple_Type) {
        const Py_ssize_t size = PyTuple_Size(results);
        for (Py_ssize_t i = 0; i < size; ++i) read(PyTuple_GetItem(results, i));
        return;
    }
    Ref iterator = checked(PyObject_GetIter(results));
    while (Ref shot = Ref::steal(PyIter_Next(iterator.get()))) read(shot.get());
    if (PyErr_Occurred()) throw_fetched();
}

Ref qir_labeled_output(Args a) {
    PyObject* results = a[0];
    Py_ssize_t length = PyObject_Size(results);
    if (length < 0) throw_fetched();
    if (length == 0) return Ref::borrow(names().empty);

    OutputBuffer out(first_shot_header_room);
    Classifier classifier;
    bool first = true;
    for_each_shot(results, [&](PyObject* shot) {
        if (!first) out.text.append(shot_start_text);
        first = false;
        parse_shot(shot, classifier, out);
        out.text.append(shot_end_text);
    });
    AttributeMap attributes = convert_attributes(a[1]);
    if (first) return Ref::borrow(names().empty);  // a length, but no shots
    put_first_shot_header(out, attributes, true);
    finish_output(out);
    return Ref::steal(new_str(out.text.view()));
}

using Body = Ref (*)(Args);

struct RecursionLevel {
    RecursionLevel() = default;
    RecursionLevel(const RecursionLevel&) = delete;
    RecursionLevel& operator=(const RecursionLevel&) = delete;
    ~RecursionLevel() { Py_LeaveRecursiveCall(); }
};

template <std::size_t index, Body body>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        constexpr CallSignature signature{methods[index].name, methods[index].params};
        PyObject* slots[max_params] = {};
        Args bound = args;
        // The common call, all arguments by position, binds without copying.
        if (kwnames || nargs != static_cast<Py_ssize_t>(signature.params.size())) {
            bind_fastcall(signature, args, nargs, kwnames, slots);
            bound = slots;
        }
        CallBorrow borrow(self);
        // Bodies run Python code that may call back in; counting each call as
        // one level of recursion makes runaway re-entry a RecursionError, not
        // a stack overflow.
        if (Py_EnterRecursiveCall(" while formatting QIR output")) throw_fetched();
        RecursionLevel level;
        return body(bound).release();
    });
}

// "name($self, a, b)\n--\n\ndoc": the interpreter shows the first part as
// __text_signature__ and the rest as __doc__.
template <std::size_t index>
constexpr auto method_doc = freeze_text<[] {
    const MethodInfo& method = methods[index];
    std::string doc(method.name);
    doc += "($self";
    for (const Param& param : method.params) {
        doc += ", ";
        doc += param.name;
    }
    doc += ")\n--\n\n";
    doc += method.doc;
    return doc;
}>();

template <std::size_t index, Body body>
PyMethodDef method_def() {
    return {methods[index].name.data(), reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_entry<index, body>)),
            METH_FASTCALL | METH_KEYWORDS, method_doc<index>.c_str()};
}

}  // namespace

PyMethodDef method_defs[method::count + 1] = {
    method_def<method::val_null, val_null>(),
    method_def<method::val_tag_type, val_tag_type>(),
    method_def<method::validate_tag_and_value, validate_tag_and_value>(),
    method_def<method::results_header, results_header>(),
    method_def<method::first_shot_header, first_shot_header>(),
    method_def<method::shot_footer, shot_footer>(),
    method_def<method::emit, emit>(),
    method_def<method::format_value, format_value>(),
    method_def<method::write_shot, write_shot>(),
    method_def<method::write_first_shot, write_first_shot>(),
    method_def<method::emit_values_in_shot, emit_values_in_shot>(),
    method_def<method::qir_labeled_output, qir_labeled_output>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace brevant::py
