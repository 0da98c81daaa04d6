// The bodies of QirLabeledFormatter's methods. Each converts its Python
// inputs, builds its whole text in one OutputBuffer, and only then reports
// warnings and hands the text over.

#include "python/formatter/methods.hpp"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

#include "labeled_formatter/emit.hpp"
#include "labeled_formatter/qir_type.hpp"
#include "labeled_formatter/records.hpp"
#include "labeled_formatter/value_text.hpp"
#include "python/formatter/attributes.hpp"
#include "python/formatter/classify.hpp"
#include "python/formatter/formatter_object.hpp"
#include "python/formatter/output_sink.hpp"
#include "python/formatter/parse_shot.hpp"
#include "python/runtime/bound_method.hpp"
#include "python/runtime/call_frame.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

Ref py_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
Ref py_none() { return Ref::borrow(Py_None); }

// A str argument's UTF-8 text; absent for any other object or a str without
// one (a lone surrogate), with the conversion error cleared.
std::optional<std::string_view> optional_text(PyObject* object) {
    if (!PyUnicode_Check(object)) return std::nullopt;
    std::optional<std::string_view> text = utf8_text(object);
    if (!text) PyErr_Clear();
    return text;
}

void deliver(PyObject* qo, const OutputBuffer& out) {
    finish_output(out);
    if (!out.text.empty()) write_output(qo, out.text.view());
}

enum class ResultsHeader : std::uint8_t { Without, With };

// The first shot's header goes in front of its records, which were rendered
// while the shot was read, before the attributes could be converted.
void put_first_shot_header(OutputBuffer& out, const AttributeMap& attributes, ResultsHeader results_header) {
    TextBuffer header;
    if (results_header == ResultsHeader::With) header.append(results_header_text);
    emit_first_shot_header(header, attributes);
    out.text.prepend(header.view());
}

Ref val_null(PyObject* tag, PyObject* val) { return py_bool(tag != Py_None && val != Py_None); }

Ref val_tag_type(PyObject* tag, PyObject* /*val*/) { return py_bool(optional_text(tag).has_value()); }

Ref validate_tag_and_value(PyObject* tag, PyObject* val) {
    bool usable_tag = optional_text(tag).has_value();
    return py_bool(usable_tag && val != Py_None);
}

Ref write_fixed_text(PyObject* qo, std::string_view text) {
    OutputBuffer out;
    out.text.append(text);
    deliver(qo, out);
    return py_none();
}

Ref results_header(PyObject* qo) { return write_fixed_text(qo, results_header_text); }

Ref first_shot_header(PyObject* qo, PyObject* attributes) {
    AttributeMap map = convert_attributes(attributes);
    OutputBuffer out;
    emit_first_shot_header(out.text, map);
    deliver(qo, out);
    return py_none();
}

Ref shot_footer(PyObject* qo) { return write_fixed_text(qo, shot_end_text); }

Ref emit(PyObject* qo, PyObject* ftype, PyObject* tag, PyObject* val) {
    OutputBuffer out;
    // A type that is not a str has no QIR type: nothing is written or counted.
    if (std::optional<TypeRow> type = type_row(optional_text(ftype).value_or(std::string_view()))) {
        Classifier classifier;
        const OutputValue value = classifier.classify_value(val);
        if (const std::optional<std::string_view> tag_text = optional_text(tag))
            emit_value(out, *type, *tag_text, value);
        else
            count_if_malformed(out, *type, value);
    }
    deliver(qo, out);
    return py_none();
}

Ref format_value(PyObject* type_str, PyObject* val) {
    std::string_view type = str_argument("type_str", type_str);
    Classifier classifier;
    OutputValue value = classifier.classify_value(val);
    TextBuffer text;
    switch (rule_text(text, rule_of_qir_type(type), value)) {
        case FormatOutcome::Text: return Ref::steal(new_str(text.view()));
        case FormatOutcome::Unchanged: return Ref::borrow(val);
        case FormatOutcome::Rejected: break;
    }
    return py_none();
}

Ref write_shot(PyObject* qo, PyObject* shot) {
    OutputBuffer out;
    Classifier classifier;
    out.text.append(shot_start_text);
    parse_shot(shot, classifier, out);
    out.text.append(shot_end_text);
    deliver(qo, out);
    return py_none();
}

Ref write_first_shot(PyObject* qo, PyObject* shot, PyObject* attributes) {
    OutputBuffer out(first_shot_header_room);
    Classifier classifier;
    parse_shot(shot, classifier, out);
    out.text.append(shot_end_text);
    // After the shot: a bad shot is reported in preference to bad attributes.
    AttributeMap map = convert_attributes(attributes);
    put_first_shot_header(out, map, ResultsHeader::Without);
    deliver(qo, out);
    return py_none();
}

Ref emit_values_in_shot(PyObject* qo, PyObject* shot) {
    OutputBuffer out;
    Classifier classifier;
    parse_shot(shot, classifier, out);
    deliver(qo, out);
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

Ref qir_labeled_output(PyObject* results, PyObject* attributes) {
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
    AttributeMap map = convert_attributes(attributes);
    if (first) return Ref::borrow(names().empty);  // a length, but no shots
    put_first_shot_header(out, map, ResultsHeader::With);
    finish_output(out);
    return Ref::steal(new_str(out.text.view()));
}

struct RecursionLevel {
    RecursionLevel() = default;
    RecursionLevel(const RecursionLevel&) = delete;
    RecursionLevel& operator=(const RecursionLevel&) = delete;
    ~RecursionLevel() { Py_LeaveRecursiveCall(); }
};

struct FormatterBinding {
    static constexpr std::string_view class_name = py::class_name;
    static constexpr const auto& methods = py::methods;

    static Ref run(PyObject* self, auto&& call) {
        CallBorrow borrow(self);
        // Bodies run Python code that may call back in; counting each call as
        // one level of recursion makes runaway re-entry a RecursionError, not
        // a stack overflow.
        if (Py_EnterRecursiveCall(" while formatting QIR output")) throw_fetched();
        RecursionLevel level;
        return call();
    }
};

template <std::size_t index, auto body>
PyMethodDef formatter_method() {
    return method_def<FormatterBinding, index, body>();
}

}  // namespace

PyMethodDef method_defs[method::count + 1] = {
    formatter_method<method::val_null, val_null>(),
    formatter_method<method::val_tag_type, val_tag_type>(),
    formatter_method<method::validate_tag_and_value, validate_tag_and_value>(),
    formatter_method<method::results_header, results_header>(),
    formatter_method<method::first_shot_header, first_shot_header>(),
    formatter_method<method::shot_footer, shot_footer>(),
    formatter_method<method::emit, emit>(),
    formatter_method<method::format_value, format_value>(),
    formatter_method<method::write_shot, write_shot>(),
    formatter_method<method::write_first_shot, write_first_shot>(),
    formatter_method<method::emit_values_in_shot, emit_values_in_shot>(),
    formatter_method<method::qir_labeled_output, qir_labeled_output>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace brevant::py
