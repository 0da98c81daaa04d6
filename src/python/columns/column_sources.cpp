#include "python/columns/column_sources.hpp"

#include <algorithm>
#include <bit>
#include <optional>
#include <string_view>

#include "labeled_formatter/user_key.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/utf8.hpp"

// Buffers are read through `memoryview` objects and their Python-level
// attributes and methods, not through PyObject_GetBuffer: the wheel is built
// for the stable ABI of 3.10, where the buffer functions and Py_buffer are not
// yet part of it (they are from 3.11). A memoryview reads any exporter, strided
// or read-only, states the element format and shape once per column, and while
// it lives the exporter cannot resize or free its memory. The rows are copied
// out with `tobytes()` a run of shots at a time (a memcpy for a contiguous
// array, well under a nanosecond per entry here), which also keeps the extra
// memory bounded however long the columns are.

namespace brevant::py {
namespace {

[[noreturn]] void throw_column_error(PyObject* error, PyObject* key, const char* what) {
    PyErr_Format(error, "column %R: %s", key, what);
    throw PythonError{};
}

Py_ssize_t ssize_of(PyObject* number) {
    const Py_ssize_t n = PyLong_AsSsize_t(number);
    if (n == -1 && PyErr_Occurred()) throw_fetched();
    return n;
}

Py_ssize_t int_attribute(PyObject* object, const char* name) {
    Ref value = checked(PyObject_GetAttrString(object, name));
    return ssize_of(value.get());
}

// The element type of a buffer format ("B", "<d", "?", ...): one native-order
// item of a known kind, or absent.
std::optional<ElementType> element_type(std::string_view format, Py_ssize_t itemsize) {
    const bool little = std::endian::native == std::endian::little;
    if (!format.empty() && (format[0] == '@' || format[0] == '=' || (little && format[0] == '<')))
        format.remove_prefix(1);
    if (format.size() != 1 || (itemsize != 1 && itemsize != 2 && itemsize != 4 && itemsize != 8)) return std::nullopt;
    const auto size = static_cast<std::uint8_t>(itemsize);
    switch (format[0]) {
        case '?': return size == 1 ? std::optional(ElementType{ElementKind::Bool, 1}) : std::nullopt;
        case 'b': case 'h': case 'i': case 'l': case 'q': case 'n':
            return ElementType{ElementKind::Signed, size};
        case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N':
            return ElementType{ElementKind::Unsigned, size};
        case 'f': return size == 4 ? std::optional(ElementType{ElementKind::Float, 4}) : std::nullopt;
        case 'd': return size == 8 ? std::optional(ElementType{ElementKind::Float, 8}) : std::nullopt;
        default: return std::nullopt;
    }
}

Column read_column(PyObject* item, Py_ssize_t index, ColumnSource& source) {
    const Py_ssize_t arity = PyTuple_Check(item) ? PyTuple_Size(item) : -1;
    if (arity != 2 && arity != 3) {
        PyErr_Format(PyExc_TypeError,
                     "column %zd: expected a (key, array) or (key, packed bits, bit count) tuple, got %R", index,
                     item);
        throw PythonError{};
    }
    source.key = Ref::borrow(PyTuple_GetItem(item, 0));
    PyObject* key = source.key.get();
    if (!PyUnicode_Check(key)) throw_column_error(PyExc_TypeError, key, "the key must be a str");
    const std::optional<std::string_view> key_text = utf8_text(key);
    if (!key_text) throw_fetched();
    const std::optional<UserEntry> entry = user_entry(*key_text);
    if (!entry) throw_column_error(PyExc_ValueError, key, "the key is not \"USER:<raw type>:<tag>\" of a known raw type");

    source.view = Ref::steal(PyMemoryView_FromObject(PyTuple_GetItem(item, 1)));
    if (!source.view) {
        PyErr_Clear();
        throw_column_error(PyExc_TypeError, key, "the array does not support the buffer protocol");
    }
    PyObject* view = source.view.get();
    Ref format = checked(PyObject_GetAttrString(view, "format"));
    const std::optional<std::string_view> format_text = utf8_text(format.get());
    if (!format_text) throw_fetched();
    const std::optional<ElementType> element = element_type(*format_text, int_attribute(view, "itemsize"));
    if (!element) throw_column_error(PyExc_TypeError, key, "unsupported element type (buffer format)");

    Column column{entry->type, entry->tag, *element};
    column.packed = arity == 3;
    if (const std::optional<std::string_view> problem = column_problem(column))
        throw_column_error(PyExc_TypeError, key, std::string(*problem).c_str());
    const Py_ssize_t dims = int_attribute(view, "ndim");
    const bool matrix = rule(column.type) == ValueRule::Bits;
    if (dims != (matrix ? 2 : 1))
        throw_column_error(PyExc_ValueError, key,
                           matrix ? "RESULT_ARRAY takes a (shots, bits) matrix" : "expected one value per shot (1-D)");
    if (matrix) {
        Ref shape = checked(PyObject_GetAttrString(view, "shape"));
        const Py_ssize_t columns = ssize_of(PyTuple_GetItem(shape.get(), 1));
        if (column.packed) {
            const Py_ssize_t bits = ssize_of(PyTuple_GetItem(item, 2));
            if (bits < 0 || columns != bits / 8 + (bits % 8 != 0))
                throw_column_error(PyExc_ValueError, key, "a packed row holds (bit count + 7) // 8 bytes");
            column.width = static_cast<std::size_t>(bits);
        } else {
            column.width = static_cast<std::size_t>(columns);
        }
    }
    return column;
}

}  // namespace

ColumnSet read_columns(PyObject* columns) {
    ColumnSet set;
    Ref iterator = checked(PyObject_GetIter(columns));
    for (Py_ssize_t index = 0;; ++index) {
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred()) throw_fetched();
            break;
        }
        ColumnSource& source = set.sources.emplace_back();
        set.columns.push_back(read_column(item.get(), index, source));
        Ref shape = checked(PyObject_GetAttrString(source.view.get(), "shape"));
        const auto shots = static_cast<std::size_t>(ssize_of(PyTuple_GetItem(shape.get(), 0)));
        if (index == 0) {
            set.shots = shots;
        } else if (shots != set.shots) {
            PyErr_Format(PyExc_ValueError, "column %R: %zu shots, where the first column has %zu",
                         source.key.get(), shots, set.shots);
            throw PythonError{};
        }
    }
    return set;
}

RowCopies::RowCopies(const ColumnSet& set) : set_(set) {
    for (const ColumnSource& source : set.sources) {
        Ref contiguous = checked(PyObject_GetAttrString(source.view.get(), "c_contiguous"));
        strided_.push_back(!PyObject_IsTrue(contiguous.get()));
    }
    if (std::find(strided_.begin(), strided_.end(), true) == strided_.end()) return;
    // memoryview copies a strided buffer element by element through the
    // generic buffer walk, several ns a value; numpy, if the caller has it
    // loaded (a strided array is most likely a matrix's column m[:, j]),
    // gathers it in a fraction of that. It is never imported here.
    Ref numpy = Ref::borrow(PyDict_GetItemString(PyImport_GetModuleDict(), "numpy"));
    if (numpy && numpy.get() != Py_None) {
        gather_ = Ref::steal(PyObject_GetAttrString(numpy.get(), "ascontiguousarray"));
        if (!gather_) PyErr_Clear();
    }
}

std::size_t RowCopies::run_length() const {
    constexpr std::size_t run_bytes = std::size_t{1} << 16;
    std::size_t shot_bytes = 0;
    for (const Column& column : set_.columns) shot_bytes += column.row_bytes();
    return shot_bytes >= run_bytes ? 1 : run_bytes / (shot_bytes | 1);
}

void RowCopies::copy(std::size_t first, std::size_t end) {
    copies_.clear();
    rows_.clear();
    Ref start = checked(PyLong_FromSize_t(first)), stop = checked(PyLong_FromSize_t(end));
    Ref run = checked(PySlice_New(start.get(), stop.get(), nullptr));
    for (std::size_t i = 0; i < set_.columns.size(); ++i) {
        const ColumnSource& source = set_.sources[i];
        Ref part = checked(PyObject_GetItem(source.view.get(), run.get()));
        if (strided_[i] && gather_) part = checked(PyObject_CallFunctionObjArgs(gather_.get(), part.get(), nullptr));
        Ref bytes = checked(PyObject_CallMethod(part.get(), "tobytes", nullptr));
        const char* data = PyBytes_AsString(bytes.get());
        if (!data) throw_fetched();
        // An exporter whose shape claims more than its memory holds is caught here.
        if (static_cast<std::size_t>(PyBytes_Size(bytes.get())) != (end - first) * set_.columns[i].row_bytes())
            throw_column_error(PyExc_ValueError, source.key.get(), "the buffer's size does not match its shape");
        rows_.push_back(reinterpret_cast<const std::byte*>(data));
        copies_.push_back(std::move(bytes));
    }
}

}  // namespace brevant::py
