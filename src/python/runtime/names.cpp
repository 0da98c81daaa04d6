#include "python/runtime/names.hpp"

#include <atomic>
#include <mutex>

#include "python/runtime/errors.hpp"
#include "python/runtime/process_once.hpp"

namespace brevant::py {
namespace {

PyObject* interned(const char* text) { return created(PyUnicode_InternFromString(text)).release(); }

Names* create_names() {
    // Kept for the life of the process, like the interpreter's own interned strings.
    return new Names{
        interned("__all__"),
        interned("__qualname__"),
        interned("add_note"),
        interned("write"),
        interned("logging"),
        interned("getLogger"),
        interned("warning"),
        interned("brevant.labeled_formatter"),
        interned("Skipping malformed QIR output value"),
        interned(""),
        created(PyLong_FromLong(0)).release(),
        created(PyLong_FromLong(1)).release(),
    };
}

}  // namespace

const Names& names() {
    static std::atomic<Names*> slot{nullptr};
    static std::once_flag flag;
    return *once_per_process(slot, flag, create_names);
}

}  // namespace brevant::py
