#pragma once
// The `attributes` argument: a dict read into an AttributeMap.

#include "labeled_formatter/records.hpp"
#include "python/runtime/python.hpp"

namespace brevant::py {

// Every item is converted (keys must be str, values go through str()), even
// those that are never written, so that a bad dict fails the same way whatever
// keys it holds.
AttributeMap convert_attributes(PyObject* attributes);

}  // namespace brevant::py
