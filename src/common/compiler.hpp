#pragma once
// Compiler-specific attributes, in one place (GCC and Clang spell them alike).

// Inlined even where the compiler's own estimate says no: on the per-entry
// path this keeps an entry's key, tag and value in registers.
#define BREVANT_INLINE [[gnu::always_inline]] inline
// Kept out of line, where inlining would only enlarge the caller's frame.
#define BREVANT_NOINLINE [[gnu::noinline]]
// Everything the function calls that the compiler can see is inlined into it.
#define BREVANT_FLATTEN [[gnu::flatten]]
#define BREVANT_UNLIKELY(condition) __builtin_expect(static_cast<bool>(condition), 0)
// A symbol exported from the module (everything else is hidden) and kept even
// though nothing in the module refers to it.
#define BREVANT_EXPORTED __attribute__((visibility("default"), used))
