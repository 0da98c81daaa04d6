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
#include "python/reader/parse_error_type.hpp"
#include "python/runtime/bound_method.hpp"
#include "python/runtime/call_frame.hpp"
#include "python/runtime/collector_pause.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/process_once.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/static_text.hpp"
#include "python/runtime/utf8.hpp"

namespace brevant::py {
namespace {

struct ReaderState {
    ReaderState(bool keep, reader::Departures departures) : reader(departures), departures(departures), keep(keep) {}
    reader::DocumentReader reader;
    reader::Departures departures;
    DocumentObjects objects;
    bool keep;
    bool closed = false;
    bool busy = false;
    std::size_t handed_out = 0;  // shots already returned by take()
    // Shots that counts or memory left out in the collecting mode, each once.
    std::vector<reader::ParseError> query_problems;
    // A streaming count's picker: what it learnt of the labels carries over chunks.
    std::optional<reader::BitPicker> stream_picker;
    BitRows stream_rows;  // a streaming bit matrix's rows so far
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

void require_open(const ReaderState& state) {
    if (state.closed) {
        PyErr_SetString(PyExc_ValueError, "the reader is closed");
        throw PythonError{};
    }
}

constexpr std::string_view class_name = "Reader";
constexpr Param new_params[] = {{"keep", Annotation::BuiltinsBool, "True"}, {"errors", Annotation::BuiltinsStr, "'raise'"}};
constexpr CallSignature new_signature{class_name, "__new__", new_params};

// A flag passed as any object, read by its truth; absent, the default.
bool flag_argument(PyObject* argument, bool absent) {
    if (!argument) return absent;
    const int truth = PyObject_IsTrue(argument);
    if (truth < 0) throw_fetched();
    return truth != 0;
}

// "raise" or "collect"; absent, "raise".
reader::Departures departures_named(PyObject* argument) {
    if (!argument) return reader::Departures::Raise;
    std::optional<std::string_view> text = PyUnicode_Check(argument) ? utf8_text(argument) : std::nullopt;
    if (PyErr_Occurred()) throw_fetched();
    if (text == "raise") return reader::Departures::Raise;
    if (text == "collect") return reader::Departures::Collect;
    PyErr_Format(PyExc_ValueError, "errors must be 'raise' or 'collect', not %R", argument);
    throw PythonError{};
}

PyObject* reader_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* bound[std::size(new_params)] = {};
        bind_tuple_dict(new_signature, args, kwargs, bound);
        const bool keep = flag_argument(bound[0], true);
        const reader::Departures departures = departures_named(bound[1]);
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(subtype, Py_tp_alloc));
        Ref self = checked(alloc(subtype, 0));
        reinterpret_cast<ReaderObject*>(self.get())->state = new ReaderState(keep, departures);
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

// A large chunk is read in slices of this size, with pending signals handled between
// them, so that Ctrl-C stops a read of a whole file within milliseconds.
constexpr std::size_t signal_slice_bytes = std::size_t{1} << 20;

Ref feed(ReaderState& state, PyObject* data) {
    require_open(state);
    std::string_view bytes = chunk_bytes(data);
    // A handler may resize a bytearray under our view, so only immutable data is sliced.
    const bool sliced = !PyByteArray_Check(data);
    while (sliced && bytes.size() > signal_slice_bytes) {
        state.reader.feed(bytes.substr(0, signal_slice_bytes));
        bytes.remove_prefix(signal_slice_bytes);
        if (PyErr_CheckSignals() < 0) throw_fetched();
    }
    state.reader.feed(bytes);
    return Ref::borrow(Py_None);
}

Ref close(ReaderState& state) {
    if (!state.closed) {
        state.closed = true;
        state.reader.finish();
    }
    return Ref::borrow(Py_None);
}

// The shots completed since the last take; a reader that does not keep
// shots forgets them here.
Ref take(ReaderState& state) {
    const reader::Document& doc = state.reader.document();
    Ref shots = state.objects.shots(doc, state.handed_out, doc.shots.size());
    if (state.keep) {
        state.handed_out = doc.shots.size();
    } else {
        state.reader.discard_completed();
        state.handed_out = 0;
    }
    return shots;
}

// Forgets the completed shots without handing them out: a counting reader
// needs their tallies, not their objects.
Ref discard(ReaderState& state) {
    state.reader.discard_completed();
    state.handed_out = 0;
    return Ref::borrow(Py_None);
}

Ref shot(ReaderState& state, PyObject* index) {
    const reader::Document& doc = state.reader.document();
    Py_ssize_t i = PyLong_AsSsize_t(index);
    if (i == -1 && PyErr_Occurred()) throw_fetched();
    if (i < 0 || static_cast<std::size_t>(i) >= doc.shots.size()) {
        PyErr_SetString(PyExc_IndexError, "shot index out of range");
        throw PythonError{};
    }
    return state.objects.shots(doc, static_cast<std::size_t>(i), static_cast<std::size_t>(i) + 1);
}

Ref shots(ReaderState& state) {
    return state.objects.shots(state.reader.document(), 0, state.reader.document().shots.size());
}

Ref columns(ReaderState& state) { return state.objects.columns(state.reader.document()); }

// A method that answers from the document alone.
template <Ref (*answer)(const reader::Document&)>
Ref query(ReaderState& state) {
    return answer(state.reader.document());
}

// Keeps the shots a query left out, once each, for problems().
reader::Outcomes query_outcomes(ReaderState& state, reader::BitPicker& picker, reader::FailedShots failed) {
    reader::Outcomes outcomes = reader::outcomes(state.reader.document(), picker, {failed, state.departures});
    auto& kept = state.query_problems;
    for (const reader::ParseError& problem : outcomes.problems) {
        bool known = std::any_of(kept.begin(), kept.end(), [&](const reader::ParseError& p) {
            return p.line == problem.line && p.message == problem.message;
        });
        if (!known && kept.size() < max_problems) kept.push_back(problem);
    }
    return outcomes;
}

reader::FailedShots failed_shots(PyObject* include_failed) {
    return flag_argument(include_failed, false) ? reader::FailedShots::Count : reader::FailedShots::LeaveOut;
}

Ref counts(ReaderState& state, PyObject* labels, PyObject* order, PyObject* include_failed) {
    reader::BitOrder bits = bit_order(order);
    reader::BitPicker picker = bit_picker(labels);
    return counts_object(query_outcomes(state, picker, failed_shots(include_failed)), bits);
}

Ref memory(ReaderState& state, PyObject* labels, PyObject* order) {
    reader::BitOrder bits = bit_order(order);
    reader::BitPicker picker = bit_picker(labels);
    return memory_object(query_outcomes(state, picker, reader::FailedShots::Count), bits);
}

Ref bits(ReaderState& state, PyObject* labels, PyObject* order) {
    reader::BitOrder bits = bit_order(order);
    reader::BitPicker picker = bit_picker(labels);
    BitRows rows;
    return bits_object(query_outcomes(state, picker, reader::FailedShots::Count), bits, rows);
}

// A stream's picker: what it learns of the labels carries over from one call
// to the next, which takes the labels of the first.
reader::BitPicker& stream_picker(ReaderState& state, PyObject* labels) {
    if (!state.stream_picker) state.stream_picker = bit_picker(labels);
    return *state.stream_picker;
}

// The counts of the shots completed since the last discard, and how many
// failed shots it left out.
Ref count_completed(ReaderState& state, PyObject* labels, PyObject* order, PyObject* include_failed) {
    reader::BitOrder bits = bit_order(order);
    reader::Outcomes outcomes = query_outcomes(state, stream_picker(state, labels), failed_shots(include_failed));
    Ref counts = counts_object(outcomes, bits);
    Ref left_out = created(PyLong_FromUnsignedLongLong(outcomes.failed_left_out));
    return checked(PyTuple_Pack(2, counts.get(), left_out.get()));
}

// The bit strings of the shots completed since the last discard.
Ref memory_completed(ReaderState& state, PyObject* labels, PyObject* order) {
    reader::BitOrder bits = bit_order(order);
    return memory_object(query_outcomes(state, stream_picker(state, labels), reader::FailedShots::Count), bits);
}

// bits() of the shots completed since the last discard, rows continuing the last call's.
Ref bits_completed(ReaderState& state, PyObject* labels, PyObject* order) {
    reader::BitOrder bits = bit_order(order);
    return bits_object(query_outcomes(state, stream_picker(state, labels), reader::FailedShots::Count), bits,
                       state.stream_rows);
}

Ref problems(ReaderState& state) {
    Ref list = created(PyList_New(0));
    const std::vector<reader::ParseError>* sources[] = {&state.reader.problems(), &state.query_problems};
    for (const auto* problems : sources)
        for (const reader::ParseError& problem : *problems)
            if (PyList_Append(list.get(), parse_error_object(problem).get()) < 0) throw_fetched();
    return list;
}

Py_ssize_t reader_length(PyObject* self) {
    return static_cast<Py_ssize_t>(reinterpret_cast<ReaderObject*>(self)->state->reader.document().shots.size());
}

constexpr Param data[] = {{"data"}};
constexpr Param index[] = {{"index"}};
constexpr Param counting[] = {{"labels"}, {"bit_order"}, {"include_failed", Annotation::BuiltinsBool}};
constexpr Param remembering[] = {{"labels"}, {"bit_order"}};

namespace method {
enum Index : std::size_t {
    feed,
    close,
    take,
    discard,
    shot,
    shots,
    columns,
    counts,
    memory,
    bits,
    count_completed,
    memory_completed,
    bits_completed,
    exit_codes,
    headers,
    attributes,
    schema,
    version,
    problems,
    count,
};
}  // namespace method

constexpr MethodInfo methods[method::count] = {
    {"feed", data, Annotation::None, "Reads a chunk (str or bytes), split anywhere.", Passing::PositionalOnly},
    {"close", {}, Annotation::None, "Marks the end of the input."},
    {"take", {}, Annotation::TypingAny, "The shots completed since the last take()."},
    {"discard", {}, Annotation::None, "Forgets the completed shots."},
    {"shot", index, Annotation::TypingAny, "The kept shot at index, in a list.", Passing::PositionalOnly},
    {"shots", {}, Annotation::TypingAny, "Every kept shot."},
    {"columns", {}, Annotation::TypingAny, "Label to one value per shot."},
    {"counts", counting, Annotation::TypingAny, "Bit string to number of shots.", Passing::PositionalOnly},
    {"memory", remembering, Annotation::TypingAny, "One bit string per shot.", Passing::PositionalOnly},
    {"bits", remembering, Annotation::TypingAny, "memory() as (bytearray of 0 and 1, shots, bits).", Passing::PositionalOnly},
    {"count_completed", counting, Annotation::TypingAny,
     "Counts of the shots completed since the last discard, and the failed shots left out.", Passing::PositionalOnly},
    {"memory_completed", remembering, Annotation::TypingAny,
     "Bit strings of the shots completed since the last discard.", Passing::PositionalOnly},
    {"bits_completed", remembering, Annotation::TypingAny,
     "bits() of the shots completed since the last discard.", Passing::PositionalOnly},
    {"exit_codes", {}, Annotation::TypingAny, "Each shot's END code."},
    {"headers", {}, Annotation::TypingAny, "The HEADER records as a dict."},
    {"attributes", {}, Annotation::TypingAny, "The first METADATA block as a dict."},
    {"schema", {}, Annotation::BuiltinsStr, "\"labeled\" or \"ordered\"."},
    {"version", {}, Annotation::TypingAny, "The schema_version header, or None."},
    {"problems", {}, Annotation::TypingAny, "The errors collected so far."},
};

struct ReaderBinding {
    static constexpr std::string_view class_name = py::class_name;
    static constexpr const auto& methods = py::methods;

    static Ref run(PyObject* self, auto&& call) {
        Busy busy(self);
        CollectorPause pause;  // shots(), take(), columns() and memory() build many objects at once
        try {
            return call(busy.state());
        } catch (const reader::ParseError& error) {
            throw_parse_error(error);
        } catch (const reader::RequestError& error) {
            PyErr_SetString(PyExc_ValueError, error.message.c_str());
            throw PythonError{};
        }
    }
};

template <std::size_t index, auto body>
PyMethodDef reader_method() {
    return method_def<ReaderBinding, index, body>();
}

PyMethodDef method_defs[method::count + 1] = {
    reader_method<method::feed, feed>(),
    reader_method<method::close, close>(),
    reader_method<method::take, take>(),
    reader_method<method::discard, discard>(),
    reader_method<method::shot, shot>(),
    reader_method<method::shots, shots>(),
    reader_method<method::columns, columns>(),
    reader_method<method::counts, counts>(),
    reader_method<method::memory, memory>(),
    reader_method<method::bits, bits>(),
    reader_method<method::count_completed, count_completed>(),
    reader_method<method::memory_completed, memory_completed>(),
    reader_method<method::bits_completed, bits_completed>(),
    reader_method<method::exit_codes, query<exit_codes_object>>(),
    reader_method<method::headers, query<headers_object>>(),
    reader_method<method::attributes, query<attributes_object>>(),
    reader_method<method::schema, query<schema_object>>(),
    reader_method<method::version, query<version_object>>(),
    reader_method<method::problems, problems>(),
    {nullptr, nullptr, 0, nullptr},
};

constexpr auto type_doc = freeze_text<[] {
    return text_signature(class_name, new_params, Passing::PositionalOrKeyword, false) +
           "Reads QIR output records pushed to it in chunks.";
}>();

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(type_doc.c_str())},
    {Py_tp_new, reinterpret_cast<void*>(&reader_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&reader_dealloc)},
    {Py_tp_methods, method_defs},
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

PyObject* reader_class() {
    return once_per_process(class_slot, class_flag, [] { return checked(PyType_FromSpec(&spec)).release(); });
}

}  // namespace brevant::py
