#include "python/formatter/output_sink.hpp"

#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/warning_log.hpp"

namespace brevant::py {

void finish_output(const OutputBuffer& out) { log_skipped_values(out.skipped); }

PyObject* new_str(std::string_view text) {
    return created(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr)).release();
}

void write_output(PyObject* qo, std::string_view text) {
    Ref str = Ref::steal(new_str(text));
    // A method call without an argument tuple, and without a bound method
    // object where `write` is a plain method of the class (a file's is).
    checked(PyObject_CallMethodObjArgs(qo, names().write, str.get(), nullptr));
}

}  // namespace brevant::py
