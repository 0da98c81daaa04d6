// brevant._reader.Checker: findings of a document pushed to it in chunks.
// It hands them out in batches, so that a document with millions of
// findings never has them all as Python objects at once.

#include "python/reader/checker_type.hpp"

#include <atomic>
#include <mutex>
#include <optional>

#include "labeled_checker/checker.hpp"
#include "python/reader/reader_type.hpp"
#include "python/runtime/bound_method.hpp"
#include "python/runtime/call_frame.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/process_once.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/static_text.hpp"

namespace brevant::py {
namespace {

constexpr Py_ssize_t batch = 4096;

struct CheckerObject {
    PyObject_HEAD
    checker::Checker* checker;
};

Ref text(std::string_view value) {
    return created(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

template <class Row, std::size_t N, class Name>
const Row* named(const Row (&rows)[N], std::string_view wanted, Name name) {
    for (const Row& row : rows)
        if (row.*name == wanted) return &row;
    return nullptr;
}

Py_ssize_t size_argument(PyObject* object) {
    Py_ssize_t value = PyLong_AsSsize_t(object);
    if (value == -1 && PyErr_Occurred()) throw_fetched();
    return value;
}

constexpr std::string_view class_name = "Checker";
constexpr Param new_params[] = {{"schema", Annotation::BuiltinsStr},
                                {"version", Annotation::BuiltinsStr},
                                {"max_line"},
                                {"per_code"}};
constexpr CallSignature new_signature{class_name, "__new__", new_params};

PyObject* checker_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* bound[std::size(new_params)] = {};
        bind_tuple_dict(new_signature, args, kwargs, bound);
        const auto* schema = named(checker::schema_names, str_argument("schema", bound[0]), &checker::SchemaName::name);
        const auto* version = named(checker::versions, str_argument("version", bound[1]), &checker::Version::name);
        const Py_ssize_t max_line = size_argument(bound[2]), per_code = size_argument(bound[3]);
        if (!schema || !version || max_line <= 0 || per_code < 0) {
            PyErr_SetString(PyExc_ValueError, "unknown schema or version, or a bound out of range");
            throw PythonError{};
        }
        checker::Options options;
        options.max_line_bytes = static_cast<std::size_t>(max_line);
        options.per_code = static_cast<std::uint64_t>(per_code);
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(subtype, Py_tp_alloc));
        Ref self = checked(alloc(subtype, 0));
        reinterpret_cast<CheckerObject*>(self.get())->checker =
            new checker::Checker(checker::Rules{schema->schema, *version}, options);
        return self.release();
    });
}

void checker_dealloc(PyObject* self) {
    delete reinterpret_cast<CheckerObject*>(self)->checker;
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(reinterpret_cast<PyObject*>(type));  // instances of a heap type own a reference to it
}

Ref feed(checker::Checker& checker, PyObject* data) {
    checker.feed(chunk_bytes(data));
    return Ref::borrow(Py_None);
}

Ref finish(checker::Checker& checker) {
    checker.finish();
    return Ref::borrow(Py_None);
}

// Each finding is taken from the queue before its objects are built, so a
// call back into the checker from a collection sees a consistent queue.
Ref take(checker::Checker& checker) {
    Ref list = created(PyList_New(0));
    for (Py_ssize_t taken = 0; taken < batch; ++taken) {
        std::optional<checker::Finding> finding = checker.next();
        if (!finding) break;
        Ref item = created(PyTuple_New(4));
        PyTuple_SetItem(item.get(), 0, created(PyLong_FromUnsignedLongLong(finding->line)).release());
        PyTuple_SetItem(item.get(), 1, created(PyLong_FromUnsignedLongLong(finding->column)).release());
        PyTuple_SetItem(item.get(), 2, text(checker::text_of(finding->code).name).release());
        PyTuple_SetItem(item.get(), 3, text(finding->message).release());
        if (PyList_Append(list.get(), item.get()) < 0) throw_fetched();
    }
    return list;
}

Ref omitted(checker::Checker& checker) {
    Ref list = created(PyList_New(0));
    for (const checker::CodeText& code : checker::code_texts) {
        std::uint64_t more = checker.omitted(code.code);
        if (!more) continue;
        Ref item = created(PyTuple_New(2));
        PyTuple_SetItem(item.get(), 0, text(code.name).release());
        PyTuple_SetItem(item.get(), 1, created(PyLong_FromUnsignedLongLong(more)).release());
        if (PyList_Append(list.get(), item.get()) < 0) throw_fetched();
    }
    return list;
}

constexpr Param data[] = {{"data"}};

namespace method {
enum Index : std::size_t { feed, finish, take, omitted, count };
}  // namespace method

constexpr MethodInfo methods[method::count] = {
    {"feed", data, Annotation::None, "Checks a chunk (str or bytes), split anywhere.", Passing::PositionalOnly},
    {"finish", {}, Annotation::None, "Marks the end of the document."},
    {"take", {}, Annotation::TypingAny, "Up to 4096 settled findings as (line, column, code, message), in line order."},
    {"omitted", {}, Annotation::TypingAny, "(code, count) for each code whose findings the per-code limit cut short."},
};

struct CheckerBinding {
    static constexpr std::string_view class_name = py::class_name;
    static constexpr const auto& methods = py::methods;

    static Ref run(PyObject* self, auto&& call) { return call(*reinterpret_cast<CheckerObject*>(self)->checker); }
};

template <std::size_t index, auto body>
PyMethodDef checker_method() {
    return method_def<CheckerBinding, index, body>();
}

PyMethodDef method_defs[method::count + 1] = {
    checker_method<method::feed, feed>(),
    checker_method<method::finish, finish>(),
    checker_method<method::take, take>(),
    checker_method<method::omitted, omitted>(),
    {nullptr, nullptr, 0, nullptr},
};

constexpr auto type_doc = freeze_text<[] {
    return text_signature(class_name, new_params, Passing::PositionalOrKeyword, false) +
           "Checks a QIR output document pushed to it in chunks; per_code 0 hands out every finding.";
}>();

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(type_doc.c_str())},
    {Py_tp_new, reinterpret_cast<void*>(&checker_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&checker_dealloc)},
    {Py_tp_methods, method_defs},
    {0, nullptr},
};

PyType_Spec spec = {
    "brevant._reader.Checker",
    static_cast<int>(sizeof(CheckerObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

std::atomic<PyObject*> class_slot{nullptr};
std::once_flag class_flag;

void add(PyObject* module, const char* name, Ref value) {
    if (PyModule_AddObjectRef(module, name, value.get()) < 0) throw_fetched();
}

}  // namespace

PyObject* checker_class() {
    return once_per_process(class_slot, class_flag, [] { return checked(PyType_FromSpec(&spec)).release(); });
}

void add_checker_tables(PyObject* module) {
    Ref messages = created(PyDict_New());
    for (const checker::CodeText& code : checker::code_texts)
        if (PyDict_SetItem(messages.get(), text(code.name).get(), text(code.message).get()) < 0) throw_fetched();
    add(module, "FINDING_MESSAGES", std::move(messages));

    Ref schemas = created(PyTuple_New(std::size(checker::schema_names)));
    for (std::size_t i = 0; i < std::size(checker::schema_names); ++i)
        PyTuple_SetItem(schemas.get(), static_cast<Py_ssize_t>(i), text(checker::schema_names[i].name).release());
    add(module, "SCHEMAS", std::move(schemas));

    // Each version with the OUTPUT types it has.
    Ref versions = created(PyDict_New());
    for (const checker::Version& version : checker::versions) {
        Ref types = created(PyList_New(0));
        for (const QirTypeInfo& type : qir_types)
            if (type.type != QirType::ResultArray || version.result_array)
                if (PyList_Append(types.get(), text(type.name).get()) < 0) throw_fetched();
        Ref frozen = checked(PyFrozenSet_New(types.get()));
        if (PyDict_SetItem(versions.get(), text(version.name).get(), frozen.get()) < 0) throw_fetched();
    }
    add(module, "SCHEMA_VERSIONS", std::move(versions));
}

}  // namespace brevant::py
