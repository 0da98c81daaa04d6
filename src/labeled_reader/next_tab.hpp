#pragma once
// The field splitter both rule sets share: where the next TAB of a line is.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/compiler.hpp"
#include "schema/records.hpp"

namespace brevant::reader {

// Fields are short, so a library call per TAB costs more than the scan;
// sixteen bytes are compared at once where the target has SSE2.
BREVANT_INLINE const char* next_tab(const char* p, const char* end) noexcept {
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8(field_separator);
    for (; end - p >= 16; p += 16) {
        auto block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, tab))) return p + __builtin_ctz(hits);
    }
#endif
    while (p != end && *p != field_separator) ++p;
    return p;
}

}  // namespace brevant::reader
