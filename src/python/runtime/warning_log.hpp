#pragma once
// The warning a malformed value leaves: one WARNING record per skipped value
// under the logger "brevant.labeled_formatter", through `logging`.

#include <cstdint>

namespace brevant::py {

// Touches nothing in Python when `count` is 0; imports `logging` afresh
// otherwise, honouring sys.modules and import hooks.
void log_skipped_values(std::uint64_t count);

}  // namespace brevant::py
