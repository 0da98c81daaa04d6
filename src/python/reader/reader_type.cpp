// brevant._reader.Reader: the push reader behind brevant.reader. It holds
// the reading core's document; the Python package wraps it in the public API.

#include "python/reader/reader_type.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <optional>

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
    ReaderState(bool keep, reader::ErrorMode errors) : reader(errors), errors(errors), keep(keep) {}
    reader::DocumentReader reader;
    reader::ErrorMode errors;
    DocumentObjects objects;
    bool keep;
    bool closed = false;
    bool busy = false;
    std::size_t handed_out = 0;  // shots already returned by take()
    // Shots that counts or memory left out in the collecting mode, each once.
    std::vector<reader::ParseError> query_problems;
    // A streaming count's picker: what it learnt of the labels carries over chunks.
    std::optional<reader::BitPicker> stream_picker;
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
        } catch (const reader::RequestError& error) {
            PyErr_SetString(PyExc_ValueError, error.message.c_str());
            throw PythonError{};
        }
    });
}

reader::ErrorMode error_mode(const char* name) {
    std::string_view text(name);
    if (text == "raise") return reader::ErrorMode::Raise;
    if (text == "collect") return reader::ErrorMode::Collect;
    PyErr_Format(PyExc_ValueError, "errors must be 'raise' or 'collect', not '%s'", name);
    throw PythonError{};
}

void require_open(const ReaderState& state) {
    if (state.closed) {
        PyErr_SetString(PyExc_ValueError, "the reader is closed");
        throw PythonError{};
    }
}

PyObject* reader_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* keywords[] = {"keep", "errors", nullptr};
        int keep = 1;
        const char* errors = "raise";
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|ps:Reader", const_cast<char**>(keywords), &keep, &errors))
            throw PythonError{};
        reader::ErrorMode mode = error_mode(errors);
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(subtype, Py_tp_alloc));
        Ref self = checked(alloc(subtype, 0));
        reinterpret_cast<ReaderObject*>(self.get())->state = new ReaderState(keep != 0, mode);
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

PyObject* reader_shot(PyObject* self, PyObject* index) {
    return method(self, [&](ReaderState& state) {
        const reader::Document& doc = state.reader.document();
        Py_ssize_t i = PyLong_AsSsize_t(index);
        if (i == -1 && PyErr_Occurred()) throw_fetched();
        if (i < 0 || static_cast<std::size_t>(i) >= doc.shots.size()) {
            PyErr_SetString(PyExc_IndexError, "shot index out of range");
            throw PythonError{};
        }
        return state.objects.shots(doc, static_cast<std::size_t>(i), static_cast<std::size_t>(i) + 1);
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

// Keeps the shots a query left out, once each, for problems().
void note_problems(ReaderState& state, const reader::Outcomes& outcomes) {
    auto& kept = state.query_problems;
    for (const reader::ParseError& problem : outcomes.problems) {
        bool known = std::any_of(kept.begin(), kept.end(), [&](const reader::ParseError& p) {
            return p.line == problem.line && p.message == problem.message;
        });
        if (!known && kept.size() < reader::max_problems) kept.push_back(problem);
    }
}

reader::Outcomes query_outcomes(ReaderState& state, reader::BitPicker& picker, reader::FailedShots failed) {
    reader::Outcomes outcomes = reader::outcomes(state.reader.document(), picker, {failed, state.errors});
    note_problems(state, outcomes);
    return outcomes;
}

// counts(labels, bit_order, include_failed): over the kept document.
PyObject* reader_counts(PyObject* self, PyObject* args) {
    PyObject *labels, *order;
    int include_failed;
    if (!PyArg_ParseTuple(args, "OOp:counts", &labels, &order, &include_failed)) return nullptr;
    return method(self, [&](ReaderState& state) {
        reader::BitOrder bits = bit_order(order);
        reader::BitPicker picker = bit_picker(labels);
        auto failed = include_failed ? reader::FailedShots::Count : reader::FailedShots::LeaveOut;
        return counts_object(query_outcomes(state, picker, failed), bits);
    });
}

// memory(labels, bit_order): one bit string per shot, failed shots included.
PyObject* reader_memory(PyObject* self, PyObject* args) {
    PyObject *labels, *order;
    if (!PyArg_ParseTuple(args, "OO:memory", &labels, &order)) return nullptr;
    return method(self, [&](ReaderState& state) {
        reader::BitOrder bits = bit_order(order);
        reader::BitPicker picker = bit_picker(labels);
        return memory_object(query_outcomes(state, picker, reader::FailedShots::Count), bits);
    });
}

// count_completed(labels, bit_order, include_failed): the counts of the shots
// completed since the last discard, and how many failed shots it left out.
// What it learns of the labels carries over to the next call.
PyObject* reader_count_completed(PyObject* self, PyObject* args) {
    PyObject *labels, *order;
    int include_failed;
    if (!PyArg_ParseTuple(args, "OOp:count_completed", &labels, &order, &include_failed)) return nullptr;
    return method(self, [&](ReaderState& state) {
        reader::BitOrder bits = bit_order(order);
        if (!state.stream_picker) state.stream_picker = bit_picker(labels);
        auto failed = include_failed ? reader::FailedShots::Count : reader::FailedShots::LeaveOut;
        reader::Outcomes outcomes = query_outcomes(state, *state.stream_picker, failed);
        Ref counts = counts_object(outcomes, bits);
        Ref left_out = created(PyLong_FromUnsignedLongLong(outcomes.failed_left_out));
        return checked(PyTuple_Pack(2, counts.get(), left_out.get()));
    });
}

PyObject* reader_problems(PyObject* self, PyObject*) {
    return method(self, [&](ReaderState& state) {
        Ref list = created(PyList_New(0));
        const std::vector<reader::ParseError>* sources[] = {&state.reader.problems(), &state.query_problems};
        for (const auto* problems : sources)
            for (const reader::ParseError& problem : *problems)
                if (PyList_Append(list.get(), parse_error_object(problem).get()) < 0) throw_fetched();
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
    {"shot", reader_shot, METH_O, "shot($self, index, /)\n--\n\nThe kept shot at index, in a list."},
    {"shots", reader_shots, METH_NOARGS, "shots($self)\n--\n\nEvery kept shot."},
    {"columns", reader_columns, METH_NOARGS, "columns($self)\n--\n\nLabel to one value per shot."},
    {"counts", reader_counts, METH_VARARGS,
     "counts($self, labels, bit_order, include_failed, /)\n--\n\nBit string to number of shots."},
    {"memory", reader_memory, METH_VARARGS, "memory($self, labels, bit_order, /)\n--\n\nOne bit string per shot."},
    {"count_completed", reader_count_completed, METH_VARARGS,
     "count_completed($self, labels, bit_order, include_failed, /)\n--\n\n"
     "Counts of the shots completed since the last discard, and the failed shots left out."},
    {"exit_codes", query<exit_codes_object>, METH_NOARGS, "exit_codes($self)\n--\n\nEach shot's END code."},
    {"headers", query<headers_object>, METH_NOARGS, "headers($self)\n--\n\nThe HEADER records as a dict."},
    {"attributes", query<attributes_object>, METH_NOARGS, "attributes($self)\n--\n\nThe first METADATA block as a dict."},
    {"schema", query<schema_object>, METH_NOARGS, "schema($self)\n--\n\n\"labeled\" or \"ordered\"."},
    {"version", query<version_object>, METH_NOARGS, "version($self)\n--\n\nThe schema_version header, or None."},
    {"problems", reader_problems, METH_NOARGS, "problems($self)\n--\n\nThe errors collected so far."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Reader(keep=True, errors='raise')\n--\n\n"
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
