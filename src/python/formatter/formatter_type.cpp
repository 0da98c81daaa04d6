#include "python/formatter/formatter_type.hpp"

#include <atomic>
#include <mutex>

#include "python/formatter/formatter_object.hpp"
#include "python/formatter/methods.hpp"
#include "python/runtime/bound_method.hpp"
#include "python/runtime/call_frame.hpp"
#include "python/runtime/errors.hpp"
#include "python/runtime/process_once.hpp"
#include "python/runtime/ref.hpp"
#include "python/runtime/static_text.hpp"

namespace brevant::py {
namespace {

constexpr auto type_doc = freeze_text<[] {
    return text_signature(class_name, {}, Passing::PositionalOrKeyword, false) + std::string(class_doc);
}>();

constexpr auto type_name = freeze_text<[] {
    std::string name("brevant.labeled_formatter.");
    name += class_name;
    return name;
}>();

constexpr CallSignature new_signature{class_name, "__new__", {}};

PyObject* formatter_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
    return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
        bind_tuple_dict(new_signature, args, kwargs, nullptr);
        auto base_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
        Ref empty_args = created(PyTuple_New(0));
        Ref self = checked(base_new(subtype, empty_args.get(), nullptr));
        reinterpret_cast<FormatterObject*>(self.get())->active_calls = 0;
        return self.release();
    });
}

void formatter_dealloc(PyObject* self) {
    guarded<int>(0, [&] {
        // Never read: keeps `object` alive until the instance and its type reference are gone.
        Ref base = Ref::borrow(reinterpret_cast<PyObject*>(&PyBaseObject_Type));
        PyTypeObject* type = Py_TYPE(self);
        auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free(self);
        Py_DECREF(reinterpret_cast<PyObject*>(type));  // instances of a heap type own a reference to it
        return 0;
    });
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(type_doc.c_str())},
    {Py_tp_new, reinterpret_cast<void*>(&formatter_new)},
    {Py_tp_methods, method_defs},
    {Py_tp_dealloc, reinterpret_cast<void*>(&formatter_dealloc)},
    {0, nullptr},
};

PyType_Spec spec = {
    type_name.c_str(),
    static_cast<int>(sizeof(FormatterObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

std::atomic<PyObject*> class_slot{nullptr};
std::once_flag class_flag;
std::atomic<bool> class_attributes_set{false};

constexpr const char* class_error = "An error occurred while initializing class QirLabeledFormatter";

PyObject* create_class() {
    PyObject* type = PyType_FromSpec(&spec);
    if (!type) throw_chained(PyExc_RuntimeError, class_error);
    return type;
}

// A failed step of setting the class attributes, reported as its own
// RuntimeError under the class's.
[[noreturn]] void throw_attribute_step_failed(const char* step_error) {
    try {
        throw_chained(PyExc_RuntimeError, step_error);
    } catch (const PythonError&) {
        throw_chained(PyExc_RuntimeError, class_error);
    }
}

// val_fns: the two validators in the order they apply.
void set_class_attributes(PyObject* type) {
    Ref val_fns;
    try {
        Ref tag_type = checked(PyObject_GetAttrString(type, "_val_tag_type"));
        Ref null = checked(PyObject_GetAttrString(type, "_val_null"));
        val_fns = created(PyTuple_Pack(2, tag_type.get(), null.get()));
    } catch (const PythonError&) {
        throw_attribute_step_failed("An error occurred while initializing `QirLabeledFormatter.val_fns`");
    }
    if (PyObject_SetAttrString(type, "val_fns", val_fns.get()) < 0)
        throw_attribute_step_failed("An error occurred while initializing `QirLabeledFormatter.__dict__`");
}

}  // namespace

PyObject* formatter_class() {
    PyObject* type = once_per_process(class_slot, class_flag, create_class);
    // Published before its attributes are set; a failed import that got this
    // far leaves the class in place and a later one sets only what is missing.
    if (!class_attributes_set.load(std::memory_order_acquire)) {
        set_class_attributes(type);
        class_attributes_set.store(true, std::memory_order_release);
    }
    return type;
}

}  // namespace brevant::py
