// lupex_clear_stack(size_t bytes) for x86-64, both calling conventions (see
// stack_clear.h). It pushes nothing: the return address at (%rsp) is the last thing
// above the block it clears.
//
// System V (Linux and the like): the argument is in %rdi; every vector register and
// %rax, %rcx, %rdx, %rsi, %rdi, %r8-%r11 are call-used.
// Windows: the argument is in %rcx; %rsi, %rdi and %xmm6-%xmm15 belong to the caller,
// so only %rax, %rcx, %rdx, %r8-%r11 and %xmm0-%xmm5 are used and zeroed.
#if defined(_WIN64)
#define BYTES %rcx
#else
#define BYTES %rdi
#endif
#define SYMBOL lupex_clear_stack

        .text
        .globl  SYMBOL
#if defined(__ELF__)
        .hidden SYMBOL
        .type   SYMBOL, @function
#endif
        .p2align 4
SYMBOL:
#if defined(__ELF__)
        .cfi_startproc
#endif
        // On entry %rsp is 8 below a multiple of 16: the block below -8(%rsp) is cleared
        // with aligned 16-byte stores, 64 bytes a round, from the top down, so that the
        // first store into each page is at its top.
        pxor    %xmm0, %xmm0
        movq    $0, -8(%rsp)
        leaq    -8(%rsp), %rax          // the cursor: the top of what is left
        leaq    63(BYTES), %rdx
        andq    $-64, %rdx
        negq    %rdx
        addq    %rax, %rdx              // the bottom: cursor - bytes rounded up to 64
#if !defined(_WIN64)
        // System V: below the 128-byte red zone, memory under the stack pointer is no
        // one's, so the stack pointer goes down to the bottom while the block is
        // cleared (a signal handler's frame then lands below it) and comes back after.
        // Nothing is stored by moving it. (Windows: a function without unwind data must
        // leave it alone, and the stores below it are the stack probe's own kind.)
        movq    %rsp, %r11
        .cfi_def_cfa_register %r11
        movq    %rdx, %rsp
#endif
1:
        subq    $64, %rax
        movaps  %xmm0, 48(%rax)
        movaps  %xmm0, 32(%rax)
        movaps  %xmm0, 16(%rax)
        movaps  %xmm0, (%rax)
        cmpq    %rdx, %rax
        ja      1b
#if !defined(_WIN64)
        movq    %r11, %rsp
        .cfi_def_cfa_register %rsp
#endif

        xorl    %eax, %eax
        xorl    %ecx, %ecx
        xorl    %edx, %edx
        xorl    %r8d, %r8d
        xorl    %r9d, %r9d
        xorl    %r10d, %r10d
        xorl    %r11d, %r11d
        pxor    %xmm1, %xmm1
        pxor    %xmm2, %xmm2
        pxor    %xmm3, %xmm3
        pxor    %xmm4, %xmm4
        pxor    %xmm5, %xmm5
#if !defined(_WIN64)
        xorl    %esi, %esi
        xorl    %edi, %edi
        pxor    %xmm6, %xmm6
        pxor    %xmm7, %xmm7
        pxor    %xmm8, %xmm8
        pxor    %xmm9, %xmm9
        pxor    %xmm10, %xmm10
        pxor    %xmm11, %xmm11
        pxor    %xmm12, %xmm12
        pxor    %xmm13, %xmm13
        pxor    %xmm14, %xmm14
        pxor    %xmm15, %xmm15
#endif
        ret
#if defined(__ELF__)
        .cfi_endproc
        .size   SYMBOL, .-SYMBOL
        .section .note.GNU-stack, "", @progbits
#endif
