#include "python/runtime/warning_log.hpp"

#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {

void log_skipped_values(std::uint64_t count) {
    if (count == 0) return;
    const Names& n = names();
    Ref logger;
    {
        Ref logging = checked(PyImport_Import(n.logging));
        Ref get_logger = checked(PyObject_GetAttr(logging.get(), n.get_logger));
        logger = checked(PyObject_CallFunctionObjArgs(get_logger.get(), n.logger_name, nullptr));
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        Ref warning = checked(PyObject_GetAttr(logger.get(), n.warning));
        checked(PyObject_CallFunctionObjArgs(warning.get(), n.warning_message, nullptr));
    }
}

}  // namespace brevant::py
