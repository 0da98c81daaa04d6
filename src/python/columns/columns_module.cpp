// The module brevant._columns: whole columns of values written as a labeled
// document, beside the formatter rather than in its class, and labeled text
// scanned straight into rows of bits.

#include <limits>

#include "labeled_formatter/columns.hpp"
#include "python/columns/bit_scan_functions.hpp"
#include "python/columns/column_sources.hpp"
#include "python/formatter/attributes.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/warning_log.hpp"

namespace brevant::py {
namespace {

// Size of the pieces write_columns hands to `write`.
constexpr std::size_t piece_size = std::size_t{1} << 20;
// Beyond this the text grows as it is written.
constexpr std::size_t max_reservation = std::size_t{1} << 31;

AttributeMap attribute_map(PyObject* attributes) {
    return attributes == Py_None ? AttributeMap{} : convert_attributes(attributes);
}

// Calls `each(rows, first, shots)` for every run of shots, rows copied out of
// the buffers, until it returns false; returns whether every run was taken.
template <class Each>
bool for_each_run(const ColumnSet& set, Each&& each) {
    RowCopies copies(set);
    const std::size_t run = copies.run_length();
    for (std::size_t first = 0; first < set.shots; first += run) {
        const std::size_t end = std::min(set.shots, first + run);
        copies.copy(first, end);
        if (!each(copies.rows(), first, end - first)) return false;
    }
    return true;
}

Ref text_object(std::string_view text) {
    return created(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

// A document of bits only, joined from its pieces: each piece becomes a str
// once, and str.join copies them into the document. The stable ABI has no way
// to write a str in place, so a document written out as text is copied once
// more when it is decoded into one; the join is that copy alone. Null, with
// nothing raised, when a shot holds a byte that is no bit or the pieces are
// more than a list can hold.
Ref joined_pieces(const ColumnSet& set, ColumnWriter& writer, const AttributeMap& header) {
    std::vector<Ref> pieces;
    for (const std::string& piece : writer.pieces()) pieces.push_back(text_object(piece));
    const std::size_t per_shot = writer.shot_piece_count();
    if (set.shots - 1 > std::size_t(std::numeric_limits<Py_ssize_t>::max() - 1) / per_shot) return {};
    // The first shot, with the document's header, is written as text.
    Ref joined = created(PyList_New(static_cast<Py_ssize_t>(1 + (set.shots - 1) * per_shot)));
    Py_ssize_t next = 0;
    std::vector<std::uint32_t> numbers;
    std::uint64_t skipped = 0;
    const bool bits_only = for_each_run(set, [&](std::span<const std::byte* const> rows, std::size_t first,
                                                 std::size_t shots) {
        std::size_t from = 0;
        if (first == 0) {
            OutputBuffer out;
            writer.emit_shots(out, rows, 0, 1, &header, std::size_t(-1));
            skipped = out.skipped;
            PyList_SetItem(joined.get(), next++, text_object(out.text.view()).release());
            from = 1;
        }
        numbers.resize((shots - from) * per_shot);
        if (!writer.piece_numbers(rows, from, shots, numbers.data())) return false;
        for (std::uint32_t number : numbers) PyList_SetItem(joined.get(), next++, Py_NewRef(pieces[number].get()));
        return true;
    });
    if (!bits_only) return {};
    log_skipped_values(skipped);
    Ref empty = created(PyUnicode_FromStringAndSize("", 0));
    return created(PyUnicode_Join(empty.get(), joined.get()));
}

PyObject* format_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* keywords[] = {"columns", "attributes", nullptr};
        PyObject *columns, *attributes = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:format_columns", const_cast<char**>(keywords), &columns,
                                         &attributes))
            throw PythonError{};
        const ColumnSet set = read_columns(columns);
        const AttributeMap map = attribute_map(attributes);
        // Every shot is at least its START and END lines.
        if (set.shots > std::size_t(std::numeric_limits<Py_ssize_t>::max()) / 16) {
            PyErr_Format(PyExc_OverflowError, "%zu shots make a document longer than a str can be", set.shots);
            throw PythonError{};
        }
        ColumnWriter writer(set.columns);
        if (set.shots > 1 && writer.pieces_only()) {
            if (Ref text = joined_pieces(set, writer, map)) return text.release();
        }
        OutputBuffer out;
        // Growing a heap block of many MB copies it; one reservation does not.
        // The slack covers the header and the worst case a record writer
        // reserves for its last record, so the estimate is never outgrown
        // for want of a few bytes.
        const std::size_t estimate = set.shots * writer.shot_size_estimate();
        out.text.reserve(std::min(max_reservation, estimate + estimate / 64 + (std::size_t{1} << 16)));
        const AttributeMap* header = &map;
        for_each_run(set, [&](std::span<const std::byte* const> rows, std::size_t, std::size_t shots) {
            writer.emit_shots(out, rows, 0, shots, std::exchange(header, nullptr), std::size_t(-1));
            return true;
        });
        log_skipped_values(out.skipped);
        return text_object(out.text.view()).release();
    });
}

// The piece is handed over as str, or as bytes for a binary file.
void write_piece(PyObject* write, OutputBuffer& out, bool binary) {
    log_skipped_values(std::exchange(out.skipped, 0));
    const std::string_view text = out.text.view();
    const auto size = static_cast<Py_ssize_t>(text.size());
    Ref piece = binary ? created(PyBytes_FromStringAndSize(text.data(), size))
                       : created(PyUnicode_DecodeUTF8(text.data(), size, nullptr));
    out.text.truncate(0);
    checked(PyObject_CallFunctionObjArgs(write, piece.get(), nullptr));
}

PyObject* write_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        static const char* keywords[] = {"write", "columns", "attributes", "binary", nullptr};
        PyObject *write, *columns, *attributes = Py_None;
        int binary = 0;
        if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|Op:write_columns", const_cast<char**>(keywords), &write,
                                         &columns, &attributes, &binary))
            throw PythonError{};
        const ColumnSet set = read_columns(columns);
        const AttributeMap map = attribute_map(attributes);
        OutputBuffer out;
        ColumnWriter writer(set.columns);
        const AttributeMap* header = &map;
        for_each_run(set, [&](std::span<const std::byte* const> rows, std::size_t, std::size_t shots) {
            for (std::size_t shot = 0; shot < shots;) {
                shot = writer.emit_shots(out, rows, shot, shots, std::exchange(header, nullptr), piece_size);
                if (out.text.size() >= piece_size) write_piece(write, out, binary);
            }
            return true;
        });
        if (!out.text.empty()) write_piece(write, out, binary);
        Py_RETURN_NONE;
    });
}

PyMethodDef functions[] = {
    {"format_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&format_columns)),
     METH_VARARGS | METH_KEYWORDS, "format_columns(columns, attributes=None)\n--\n\nThe document as a str."},
    {"write_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&write_columns)),
     METH_VARARGS | METH_KEYWORDS,
     "write_columns(write, columns, attributes=None, binary=False)\n--\n\n"
     "The document handed to write() in pieces of about 1 MiB."},
    {"bit_scan", bit_scan, METH_VARARGS, "bit_scan(labels, reversed, /)\n--\n\nA quick scan of labeled text to bits."},
    {"bit_scan_feed", bit_scan_feed, METH_VARARGS, "bit_scan_feed(scan, chunk, /)\n--\n\nFalse once the scan stopped."},
    {"bit_scan_finish", bit_scan_finish, METH_O, "bit_scan_finish(scan, /)\n--\n\nFalse unless the text ended after a shot."},
    {"bit_scan_take", bit_scan_take, METH_VARARGS, "bit_scan_take(scan, rows, /)\n--\n\n(bytearray, rows, width) of ready rows."},
    {"bit_scan_ready", bit_scan_ready, METH_O, "bit_scan_ready(scan, /)\n--\n\nRows ready."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot module_slots[] = {{0, nullptr}};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_columns", "Columns of values written as QIR labeled output.", 0, functions,
    module_slots,          nullptr,    nullptr,                                              nullptr,
};

}  // namespace
}  // namespace brevant::py

PyMODINIT_FUNC PyInit__columns() { return PyModuleDef_Init(&brevant::py::module_def); }
