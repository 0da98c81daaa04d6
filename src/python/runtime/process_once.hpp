#pragma once
// Process-wide values (the class object, PanicException, fixed names) are
// created once, under a guard. A thread waits for the guard without holding
// the interpreter lock, and the creator takes the lock back inside it, so a
// lock holder never waits for a guard whose owner waits for the lock.

#include <atomic>
#include <mutex>

#include "python/runtime/python.hpp"

namespace brevant::py {

template <class T, class Create>
T* once_per_process(std::atomic<T*>& slot, std::once_flag& flag, Create&& create) {
    if (T* value = slot.load(std::memory_order_acquire)) return value;
    PyThreadState* released = PyEval_SaveThread();
    bool holds_lock = false;
    try {
        std::call_once(flag, [&] {
            PyEval_RestoreThread(released);
            holds_lock = true;
            // A failure leaves the flag unset, so a later call tries again.
            slot.store(create(), std::memory_order_release);
        });
    } catch (...) {
        if (!holds_lock) PyEval_RestoreThread(released);
        throw;
    }
    if (!holds_lock) PyEval_RestoreThread(released);
    return slot.load(std::memory_order_acquire);
}

}  // namespace brevant::py
