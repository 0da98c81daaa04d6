#include "python/formatter/output_sink.hpp"

#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

void finish_output(const OutputBuffer& out) {
    if (out.skipped == 0) return;
    const Names& n = names();
    // Imported afresh every time, honouring sys.modules and import hooks.
    Ref logger;
    {
        Ref logging = checked(PyImport_Import(n.logging));
        Ref get_logger = checked(PyObject_GetAttr(logging.get(), n.get_logger));
        logger = checked(PyObject_CallFunctionObjArgs(get_logger.get(), n.logger_name, nullptr));
    }
    for (std::uint64_t i = 0; i < out.skipped; ++i) {
        Ref warning = checked(PyObject_GetAttr(logger.get(), n.warning));
        checked(PyObject_CallFunctionObjArgs(warning.get(), n.warning_message, nullptr));
    }
}

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
