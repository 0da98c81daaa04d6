#pragma once
// Compiler-specific attributes, in one place (GCC and Clang spell them alike).

// Inlined even where the compiler's own estimate says no: on the per-entry
// path this keeps an entry's key, tag and value in registers.
#define BREVANT_INLINE [[gnu::always_inline]] inline
// Kept out of line, where inlining would only enlarge the caller's frame.
#define BREVANT_NOINLINE [[gnu::noinline]]
// Everything the function calls that the compiler can see is inlined into it.
#define BREVANT_FLATTEN [[gnu::flatten]]
// Starts on a cache-line boundary. The per-entry loops are short enough that
// where they fall relative to 64-byte boundaries shows in the timings: an
// unrelated change elsewhere that moved parse_shot by 16 bytes cost `measure`,
// `wide` and `lists` 1.5-7%, and with this alignment both builds timed alike.
#define BREVANT_HOT_ALIGNED [[gnu::aligned(64)]]
// Hides a value's origin from the optimiser, so that a test of it stays one
// branch instead of being split back into the branches it was built from.
#define BREVANT_OPAQUE(value) asm("" : "+r"(value))
#define BREVANT_UNLIKELY(condition) __builtin_expect(static_cast<bool>(condition), 0)
// A symbol exported from the module (everything else is hidden) and kept even
// though nothing in the module refers to it.
#define BREVANT_EXPORTED __attribute__((visibility("default"), used))
