#pragma once
// The layout of a QirLabeledFormatter instance, and the borrow every method
// call takes on it.
#include <atomic>

#include "python/runtime/python.hpp"

namespace brevant::py {

struct FormatterObject {
    PyObject_HEAD
    // Calls in progress; never read, but it is the one word of __basicsize__ callers see.
    Py_ssize_t active_calls;
};

// Marks the instance as in use for the duration of a method call.
class CallBorrow {
public:
    explicit CallBorrow(PyObject* self) : counter_(reinterpret_cast<FormatterObject*>(self)->active_calls) {
        counter_.fetch_add(1, std::memory_order_relaxed);
    }
    ~CallBorrow() { counter_.fetch_sub(1, std::memory_order_relaxed); }
    CallBorrow(const CallBorrow&) = delete;
    CallBorrow& operator=(const CallBorrow&) = delete;

private:
    std::atomic_ref<Py_ssize_t> counter_;
};

}  // namespace brevant::py
