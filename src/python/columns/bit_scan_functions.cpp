#include "python/columns/bit_scan_functions.hpp"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "labeled_reader/bit_scan.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/utf8.hpp"

// A scan is handed to Python as a capsule that owns it: the private module's
// callers (brevant.arrays) only pass it back, so a type of its own would add
// nothing.

namespace brevant::py {
namespace {

constexpr const char* capsule_name = "brevant._columns.BitScan";

void delete_scan(PyObject* capsule) {
    delete static_cast<reader::BitScan*>(PyCapsule_GetPointer(capsule, capsule_name));
}

reader::BitScan& scan_of(PyObject* capsule) {
    auto* scan = static_cast<reader::BitScan*>(PyCapsule_GetPointer(capsule, capsule_name));
    if (!scan) throw_fetched();
    return *scan;
}

std::string_view chunk_text(PyObject* chunk) {
    if (PyUnicode_Check(chunk)) {
        const std::optional<std::string_view> text = utf8_text(chunk);
        if (!text) throw_fetched();
        return *text;
    }
    if (PyByteArray_Check(chunk))
        return {PyByteArray_AsString(chunk), static_cast<std::size_t>(PyByteArray_Size(chunk))};
    char* data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(chunk, &data, &size) < 0) throw_fetched();
    return {data, static_cast<std::size_t>(size)};
}

}  // namespace

PyObject* bit_scan(PyObject*, PyObject* args) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* labels;
        int reversed;
        if (!PyArg_ParseTuple(args, "Op:bit_scan", &labels, &reversed)) throw PythonError{};
        std::vector<std::string> chosen;
        if (labels != Py_None) {
            Ref iterator = checked(PyObject_GetIter(labels));
            while (Ref label = Ref::steal(PyIter_Next(iterator.get()))) {
                const std::optional<std::string_view> text = utf8_text(label.get());
                if (!text) throw_fetched();
                chosen.emplace_back(*text);
            }
            if (PyErr_Occurred()) throw_fetched();
        }
        auto scan = std::make_unique<reader::BitScan>(std::move(chosen), labels != Py_None, reversed != 0);
        Ref capsule = checked(PyCapsule_New(scan.get(), capsule_name, delete_scan));
        scan.release();
        return capsule.release();
    });
}

PyObject* bit_scan_feed(PyObject*, PyObject* args) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject *capsule, *chunk;
        if (!PyArg_ParseTuple(args, "OO:bit_scan_feed", &capsule, &chunk)) throw PythonError{};
        return PyBool_FromLong(scan_of(capsule).feed(chunk_text(chunk)));
    });
}

PyObject* bit_scan_finish(PyObject*, PyObject* capsule) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* { return PyBool_FromLong(scan_of(capsule).finish()); });
}

PyObject* bit_scan_take(PyObject*, PyObject* args) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        PyObject* capsule;
        Py_ssize_t rows;
        if (!PyArg_ParseTuple(args, "On:bit_scan_take", &capsule, &rows)) throw PythonError{};
        reader::BitScan& scan = scan_of(capsule);
        const std::size_t taken = std::min(scan.rows_ready(), static_cast<std::size_t>(std::max<Py_ssize_t>(rows, 0)));
        const std::string bits = scan.take(taken);
        Ref data = created(PyByteArray_FromStringAndSize(bits.data(), static_cast<Py_ssize_t>(bits.size())));
        return checked(Py_BuildValue("(Onn)", data.get(), static_cast<Py_ssize_t>(taken),
                                     static_cast<Py_ssize_t>(scan.width())))
            .release();
    });
}

PyObject* bit_scan_ready(PyObject*, PyObject* capsule) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        return checked(PyLong_FromSize_t(scan_of(capsule).rows_ready())).release();
    });
}

}  // namespace brevant::py
