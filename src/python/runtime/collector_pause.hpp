#pragma once
// Pauses the cyclic garbage collector while a call builds many containers at
// once. Each allocation of a tracked container counts towards a collection,
// and the collections of the oldest generation walk the whole growing result
// again and again: with 2 million tuples that is two thirds of the call.
// None of the objects built can form a cycle, so nothing is left for later.

#include "python/runtime/python.hpp"

namespace brevant::py {

class CollectorPause {
public:
    CollectorPause() noexcept : was_enabled_(PyGC_Disable() == 1) {}
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    // The caller's state comes back on every path, exceptions included.
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }

private:
    bool was_enabled_;
};

}  // namespace brevant::py
