// The module definition of brevant._native and its one execution step.

#include "python/formatter/formatter_type.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/names.hpp"
#include "python/runtime/ref.hpp"

namespace brevant::py {
namespace {

int exec_module(PyObject* module) {
    return guarded<int>(-1, [&] {
        panic_exception_type();  // known from now on, though not an attribute of this module
        PyObject* type = formatter_class();
        const Names& n = names();
        Ref all = Ref::steal(PyObject_GetAttr(module, n.all));
        if (!all) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_fetched();
            PyErr_Clear();
            all = created(PyList_New(0));
            if (PyObject_SetAttr(module, n.all, all.get()) < 0) throw_fetched();
        }
        if (!PyList_Check(all.get())) throw_type_mismatch(all.get(), "list");
        Ref name = created(PyUnicode_FromString("QirLabeledFormatter"));
        if (PyList_Append(all.get(), name.get()) < 0) throw InternalFailure{"could not append __name__ to __all__"};
        if (PyObject_SetAttrString(module, "QirLabeledFormatter", type) < 0) throw_fetched();
        return 0;
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace brevant::py

PyMODINIT_FUNC PyInit__native() { return PyModuleDef_Init(&brevant::py::module_def); }
