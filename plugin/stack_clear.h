// Clearing the stack that an exported procedure's work used. Wiping the named arrays
// is not enough: the compiler keeps block halves, message words and key bytes in
// spill slots and saved registers of its own choosing. So an export runs its work in
// a function that is never inlined into it and then calls clear_stack from the same
// frame: the clear starts where the work's frames started, and clearing downward from
// there clears whatever they left.
//
// lupex_clear_stack is a few instructions of assembly per target
// (stack_clear_x86_64.S, stack_clear_i686.S, stack_clear_aarch64.S,
// stack_clear_s390x.S): it stores
// nothing of its own on the stack before it clears, so nothing it saves lands above
// the block it clears, and that holds whatever the compiler and the optimisation. It
// clears from the top down, a 16-byte store at a time, the way a stack probe touches
// the pages of a Windows stack that is committed page by page behind a guard page, so
// a thread whose stack never went that deep does not fault. Before it returns it
// zeroes the call-used registers it may clobber: the integer ones, and the vector
// registers that the target's compiler uses (none on 32-bit x86 built without SSE).
//
// On other targets (stack_clear.cpp) it is C++: an alloca'd block wiped with memset.
// That is best effort: the compiler may save a register that still holds a value of
// the work in the routine's own frame, above the block it clears.
#pragma once

#include <cstddef>

#if defined(_WIN32)
#define LUPEX_HIDDEN
#else
#define LUPEX_HIDDEN __attribute__((visibility("hidden")))
#endif

// Zeroes `bytes` bytes (rounded up to a multiple of 64 on x86-64 and aarch64, of 16
// on 32-bit x86) of the stack directly below its own return address: where the work,
// called from the same frame, kept its return address and its frames. `bytes` is how
// deep the work goes, measured, with a margin: each byte costs the call a little time.
extern "C" LUPEX_HIDDEN void lupex_clear_stack(std::size_t bytes);

namespace lupex {

// What the exports call after their work. Always inlined, and never a sibling call:
// the barrier behind the call keeps it from becoming a jump out of the caller's
// frame, from which the clear would start above or below where the work started.
[[gnu::always_inline]] inline void clear_stack(std::size_t bytes) {
    lupex_clear_stack(bytes);
    __asm__ __volatile__("" : : : "memory");
}

// How many bytes each function clears after its work: how deep that work goes below the
// function's frame, with a margin. tests/stack_test.cpp measures the depths by painting
// and holds each under its clear on every target; the measured depths are tabled in
// docs/DEVELOPING.md (Robustness), and only here are the bytes cleared.
//
// The blowfish procedure, and lupex_encrypt, lupex_decrypt and lupex_encpass: the BoxSet
// that the work keys in its own frame is most of it.
constexpr std::size_t blowfish_stack_bytes = 6144;
constexpr std::size_t keyed_stack_bytes = 6144;
// The md5 procedure and lupex_md5, lupex_key_setup and the calls under a prepared key,
// which keep only block halves, message words, the padded last blocks and saved
// registers. Kept tight where the work is small: these calls are short enough that
// clearing kilobytes would cost a sizeable part of them. Built without optimisation the
// work keeps everything in memory and goes deeper, and every frame on s390x carries a
// register save area.
#if defined(__OPTIMIZE__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__))
constexpr std::size_t md5_stack_bytes = 512;
constexpr std::size_t prepared_stack_bytes = 512;
#else
constexpr std::size_t md5_stack_bytes = 1024;
constexpr std::size_t prepared_stack_bytes = 1024;
#endif
// The CBC calls under a prepared key: their decryption also keeps a decoding step of
// cipher blocks (cipher/text_cipher.cpp) on the stack, so twice as much.
constexpr std::size_t cbc_prepared_stack_bytes = 2 * prepared_stack_bytes;

} // namespace lupex
