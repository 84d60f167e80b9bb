// LUPEX_CLEAR_REGS, on the definitions of the exports and the C API functions: they
// return with every call-used register zeroed, so no value of the work (a key byte
// that a memcpy carried in a vector register, a block half) reaches the caller in a
// register. GCC 11 and later and clang 15 and later offer it on x86 and 64-bit ARM;
// elsewhere it is empty, and only the registers that lupex_clear_stack zeroes are
// cleared (plugin/stack_clear.h).
#pragma once

#if defined(__has_attribute) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__))
#if __has_attribute(zero_call_used_regs)
#define LUPEX_CLEAR_REGS __attribute__((zero_call_used_regs("all")))
#endif
#endif
#ifndef LUPEX_CLEAR_REGS
#define LUPEX_CLEAR_REGS
#endif
