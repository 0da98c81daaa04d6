// brevant._reader.Reader: the push reader behind brevant.reader. It holds
// the reading core's document; the Python package wraps it in the public API.

#include "python/reader/reader_type.hpp"

#include <atomic>
#include <mutex>
#include <new>

#include "labeled_reader/document_reader.hpp"
#include "python/reader/document_objects.hpp"
#include "python/runtime/errors.hpp"
#include "python/reader/parse_error_type.hpp"
#include "python/runtime/process_once.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

struct ReaderState {
    ReaderState(bool keep, bool collect) : reader(collect), keep(keep) {}
    reader::DocumentReader reader;
    DocumentObjects objects;
    bool keep;
    bool closed = false;
    bool busy = false;
    std::size_t handed_out = 0;  // shots already returned by take()
};

struct ReaderObject {
    PyObject_HEAD
    ReaderState* state;
};

// Building objects can run arbitrary Python code (a collection runs
// finalizers); a call back into the same reader then must not see its
// document half-changed.
class Busy {
public:
    explicit Busy(PyObject* self) : state_(*reinterpret_cast<ReaderObject*>(self)->state) {
        if (state_.busy) {
            PyErr_SetString(PyExc_RuntimeError, "the reader is already in use by another call");
            throw PythonError{};
        }
        state_.busy = true;
    }
    ~Busy() { state_.busy = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
    ReaderState& state() { return state_; }

private:
    ReaderState& state_;
};

template <class Body>
PyObject* method(PyObject* self, Body&& body) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        Busy busy(self);
        try {
            return body(busy.state()).release();
        } catch (const reader::ParseError& error) {
            throw_parse_error(error);
        }
    });
}

void require_open(const ReaderState& state) {
    if (state.closed) {
        PyErr_SetString(PyExc_ValueError, "the reader is closed");
        throw PythonError{};
    }
}

PyObject* reader_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* keywords[] = {"keep", "collect", nullptr};
        int keep = 1, collect = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|pp:Reader", const_cast<char**>(keywords), &keep, &collect))
            throw PythonError{};
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(subtype, Py_tp_alloc));
        Ref self = checked(alloc(subtype, 0));
        reinterpret_cast<ReaderObject*>(self.get())->state = new ReaderState(keep != 0, collect != 0);
        return self.release();
    });
}

void reader_dealloc(PyObject* self) {
    delete reinterpret_cast<ReaderObject*>(self)->state;
    PyTypeObject* type = Py_TYPE(self);
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(self);
    Py_DECREF(reinterpret_cast<PyObject*>(type));  // instances of a heap type own a reference to it
}

// The bytes of a chunk: a str's UTF-8, or the contents of bytes or a bytearray.
std::string_view chunk_bytes(PyObject* data) {
    if (PyUnicode_Check(data)) {
        std::optional<std::string_view> text = utf8_text(data);
        if (!text) throw_fetched();
        return *text;
    }
    if (PyBytes_Check(data)) {
        char* buffer;
        Py_ssize_t size;
        if (PyBytes_AsStringAndSize(data, &buffer, &size) < 0) throw_fetched();
        return {buffer, static_cast<std::size_t>(size)};
    }
    if (PyByteArray_Check(data))
        return {PyByteArray_AsString(data), static_cast<std::size_t>(PyByteArray_Size(data))};
    throw_type_mismatch(data, "str or bytes");
}

PyObject* reader_feed(PyObject* self, PyObject* data) {
    return method(self, [&](ReaderState& state) {
        require_open(state);
        state.reader.feed(chunk_bytes(data));
        return Ref::borrow(Py_None);
    });
}

PyObject* reader_close(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) {
        if (!state.closed) {
            state.closed = true;
            state.reader.finish();
        }
        return Ref::borrow(Py_None);
    });
}

// The shots completed since the last take; a reader that does not keep
// shots forgets them here.
PyObject* reader_take(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) {
        const reader::Document& doc = state.reader.document();
        Ref shots = state.objects.shots(doc, state.handed_out, doc.shots.size());
        if (state.keep) {
            state.handed_out = doc.shots.size();
        } else {
            state.reader.discard_completed();
            state.handed_out = 0;
        }
        return shots;
    });
}

// Forgets the completed shots without handing them out: a counting reader
// needs their tallies, not their objects.
PyObject* reader_discard(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) {
        state.reader.discard_completed();
        state.handed_out = 0;
        return Ref::borrow(Py_None);
    });
}

PyObject* reader_shots(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) {
        return state.objects.shots(state.reader.document(), 0, state.reader.document().shots.size());
    });
}

PyObject* reader_columns(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) { return state.objects.columns(state.reader.document()); });
}

// A method that answers from the document alone.
template <Ref (*answer)(const reader::Document&)>
PyObject* query(PyObject* self, PyObject*) {
    return method(self, [](ReaderState& state) { return answer(state.reader.document()); });
}

template <Ref (*answer)(const reader::Document&, PyObject*)>
PyObject* query_with(PyObject* self, PyObject* argument) {
    return method(self, [&](ReaderState& state) { return answer(state.reader.document(), argument); });
}

PyObject* reader_problems(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) {
        const auto& problems = state.reader.problems();
        Ref list = created(PyList_New(static_cast<Py_ssize_t>(problems.size())));
        for (std::size_t i = 0; i < problems.size(); ++i)
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), parse_error_object(problems[i]).release());
        return list;
    });
}

Py_ssize_t reader_length(PyObject* self) {
    return static_cast<Py_ssize_t>(reinterpret_cast<ReaderObject*>(self)->state->reader.document().shots.size());
}

PyMethodDef methods[] = {
    {"feed", reader_feed, METH_O, "feed($self, data, /)\n--\n\nReads a chunk (str or bytes), split anywhere."},
    {"close", reader_close, METH_NOARGS, "close($self)\n--\n\nMarks the end of the input."},
    {"take", reader_take, METH_NOARGS, "take($self)\n--\n\nThe shots completed since the last take()."},
    {"discard", reader_discard, METH_NOARGS, "discard($self)\n--\n\nForgets the completed shots."},
    {"shots", reader_shots, METH_NOARGS, "shots($self)\n--\n\nEvery kept shot."},
    {"columns", reader_columns, METH_NOARGS, "columns($self)\n--\n\nLabel to one value per shot."},
    {"counts", query_with<counts_object>, METH_O, "counts($self, labels, /)\n--\n\nBit string to number of shots."},
    {"memory", query_with<memory_object>, METH_O, "memory($self, labels, /)\n--\n\nOne bit string per shot."},
    {"exit_codes", query<exit_codes_object>, METH_NOARGS, "exit_codes($self)\n--\n\nEach shot's END code."},
    {"headers", query<headers_object>, METH_NOARGS, "headers($self)\n--\n\nThe HEADER records as a dict."},
    {"attributes", query<attributes_object>, METH_NOARGS, "attributes($self)\n--\n\nThe first METADATA block as a dict."},
    {"schema", query<schema_object>, METH_NOARGS, "schema($self)\n--\n\n\"labeled\" or \"ordered\"."},
    {"version", query<version_object>, METH_NOARGS, "version($self)\n--\n\nThe schema_version header, or None."},
    {"problems", reader_problems, METH_NOARGS, "problems($self)\n--\n\nThe errors collected so far."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Reader(keep=True, collect=False)\n--\n\n"
                                  "Reads QIR output records pushed to it in chunks.")},
    {Py_tp_new, reinterpret_cast<void*>(&reader_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&reader_dealloc)},
    {Py_tp_methods, methods},
    {Py_mp_length, reinterpret_cast<void*>(&reader_length)},
    {0, nullptr},
};

PyType_Spec spec = {
    "brevant._reader.Reader",
    static_cast<int>(sizeof(ReaderObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

std::atomic<PyObject*> class_slot{nullptr};
std::once_flag class_flag;

}  // namespace

PyObject* reader_class() {
    return once_per_process(class_slot, class_flag, [] { return checked(PyType_FromSpec(&spec)).release(); });
}

}  // namespace brevant::py
