// brevant._reader.Checker: findings of a document pushed to it in chunks.
// It hands them out in batches, so that a document with millions of
// findings never has them all as Python objects at once.

#include "python/reader/checker_type.hpp"

#include <atomic>
#include <mutex>
#include <optional>

#include "labeled_checker/checker.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/process_once.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

constexpr Py_ssize_t batch = 4096;

struct CheckerObject {
    PyObject_HEAD
    checker::Checker* checker;
};

checker::Checker& state(PyObject* self) { return *reinterpret_cast<CheckerObject*>(self)->checker; }

Ref text(std::string_view value) {
    return created(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}

template <class Row, std::size_t N, class Name>
const Row* named(const Row (&rows)[N], std::string_view wanted, Name name) {
    for (const Row& row : rows)
        if (row.*name == wanted) return &row;
    return nullptr;
}

std::string_view argument_text(const char* value) { return value ? std::string_view(value) : std::string_view(); }

PyObject* checker_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* keywords[] = {"schema", "version", "max_line", "per_code", nullptr};
        const char* schema = nullptr;
        const char* version = nullptr;
        Py_ssize_t max_line = 0, per_code = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "ssnn:Checker", const_cast<char**>(keywords), &schema,
                                         &version, &max_line, &per_code))
            throw PythonError{};
        const auto* schema_row = named(checker::schema_names, argument_text(schema), &checker::SchemaName::name);
        const auto* version_row = named(checker::versions, argument_text(version), &checker::Version::name);
        if (!schema_row || !version_row || max_line <= 0 || per_code < 0) {
            PyErr_SetString(PyExc_ValueError, "unknown schema or version, or a bound out of range");
            throw PythonError{};
        }
        checker::Options options;
        options.max_line_bytes = static_cast<std::size_t>(max_line);
        options.per_code = static_cast<std::uint64_t>(per_code);
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(subtype, Py_tp_alloc));
        Ref self = checked(alloc(subtype, 0));
        reinterpret_cast<CheckerObject*>(self.get())->checker =
            new checker::Checker(checker::Rules{schema_row->schema, *version_row}, options);
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

PyObject* checker_feed(PyObject* self, PyObject* data) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        if (PyUnicode_Check(data)) {
            std::optional<std::string_view> utf8 = utf8_text(data);
            if (!utf8) throw_fetched();
            state(self).feed(*utf8);
        } else if (PyBytes_Check(data)) {
            char* buffer;
            Py_ssize_t size;
            if (PyBytes_AsStringAndSize(data, &buffer, &size) < 0) throw_fetched();
            state(self).feed({buffer, static_cast<std::size_t>(size)});
        } else {
            throw_type_mismatch(data, "str or bytes");
        }
        Py_RETURN_NONE;
    });
}

PyObject* checker_finish(PyObject* self, PyObject*) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        state(self).finish();
        Py_RETURN_NONE;
    });
}

// Up to one batch of settled findings, as (line, column, code, message).
PyObject* checker_take(PyObject* self, PyObject*) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        Ref list = created(PyList_New(0));
        for (Py_ssize_t taken = 0; taken < batch; ++taken) {
            std::optional<checker::Finding> finding = state(self).next();
            if (!finding) break;
            Ref item = created(PyTuple_New(4));
            PyTuple_SetItem(item.get(), 0, created(PyLong_FromUnsignedLongLong(finding->line)).release());
            PyTuple_SetItem(item.get(), 1, created(PyLong_FromUnsignedLongLong(finding->column)).release());
            PyTuple_SetItem(item.get(), 2, text(checker::text_of(finding->code).name).release());
            PyTuple_SetItem(item.get(), 3, text(finding->message).release());
            if (PyList_Append(list.get(), item.get()) < 0) throw_fetched();
        }
        return list.release();
    });
}

// (code, count) for each code the per-code limit left findings out of.
PyObject* checker_omitted(PyObject* self, PyObject*) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        Ref list = created(PyList_New(0));
        for (const checker::CodeText& code : checker::code_texts) {
            std::uint64_t count = state(self).omitted(code.code);
            if (!count) continue;
            Ref name = text(code.name);
            Ref item = created(Py_BuildValue("(OK)", name.get(), static_cast<unsigned long long>(count)));
            if (PyList_Append(list.get(), item.get()) < 0) throw_fetched();
        }
        return list.release();
    });
}

PyMethodDef methods[] = {
    {"feed", checker_feed, METH_O, "feed($self, data, /)\n--\n\nChecks a chunk (str or bytes), split anywhere."},
    {"finish", checker_finish, METH_NOARGS, "finish($self)\n--\n\nMarks the end of the document."},
    {"take", checker_take, METH_NOARGS,
     "take($self)\n--\n\nUp to 4096 settled findings as (line, column, code, message), in line order."},
    {"omitted", checker_omitted, METH_NOARGS,
     "omitted($self)\n--\n\n(code, count) for each code whose findings the per-code limit cut short."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Checker(schema, version, max_line, per_code)\n--\n\n"
                                  "Checks a QIR output document pushed to it in chunks; per_code 0 keeps every "
                                  "finding.")},
    {Py_tp_new, reinterpret_cast<void*>(&checker_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&checker_dealloc)},
    {Py_tp_methods, methods},
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
        for (const reader::QirTypeName& type : reader::qir_type_names)
            if (type.type != reader::QirType::ResultArray || version.result_array)
                if (PyList_Append(types.get(), text(type.qir).get()) < 0) throw_fetched();
        Ref frozen = checked(PyFrozenSet_New(types.get()));
        if (PyDict_SetItem(versions.get(), text(version.name).get(), frozen.get()) < 0) throw_fetched();
    }
    add(module, "SCHEMA_VERSIONS", std::move(versions));
}

}  // namespace brevant::py
