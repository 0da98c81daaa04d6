#pragma once
// Compiler-specific hints, in one place. Each use beside the code says which
// measurement it keeps.

// Inlined even where the compiler's own estimate says no: on the per-entry
// path this keeps an entry's key, tag and value in registers.
#define BREVANT_INLINE [[gnu::always_inline]] inline
// Kept out of line: rare paths that would otherwise crowd the hot loop.
#define BREVANT_NOINLINE [[gnu::noinline]]
#define BREVANT_UNLIKELY(condition) __builtin_expect(static_cast<bool>(condition), 0)
