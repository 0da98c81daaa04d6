#pragma once
// The layout of a QirLabeledFormatter instance, and the borrow every method
// call takes on it.
#include <atomic>

#include "python/python.hpp"

namespace brevant::py {

struct FormatterObject {
    PyObject_HEAD
    // Method calls in progress. Nothing reads it, yet it stays: it is the
    // instance's one word after the header, the size callers see in __basicsize__.
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
