// lupex_clear_stack(size_t bytes) for 32-bit x86 (see stack_clear.h): cdecl, as the
// compiler calls any function declared without a convention, so the caller removes
// the argument. It pushes nothing: the return address at (%esp) and the argument
// above it are all that lies above the block it clears.
#if defined(_WIN32)
#define SYMBOL _lupex_clear_stack
#else
#define SYMBOL lupex_clear_stack
#endif

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
        // %esp is only 4-byte aligned: 4-byte stores, 16 bytes a round, from the top
        // down, so that the first store into each page is at its top.
        movl    4(%esp), %edx
        addl    $15, %edx
        andl    $-16, %edx
        movl    %esp, %eax              // the cursor: the top of what is left
        movl    %esp, %ecx
        subl    %edx, %ecx              // the bottom: cursor - bytes rounded up to 16
#if !defined(_WIN32)
        // Memory under the stack pointer is no one's, so the stack pointer goes down to
        // the bottom while the block is cleared (a signal handler's frame then lands
        // below it) and comes back after. Nothing is stored by moving it. (Windows: the
        // stores below it are the stack probe's own kind.)
        movl    %esp, %edx
        .cfi_def_cfa_register %edx
        movl    %ecx, %esp
#endif
1:
        subl    $16, %eax
        movl    $0, 12(%eax)
        movl    $0, 8(%eax)
        movl    $0, 4(%eax)
        movl    $0, (%eax)
        cmpl    %ecx, %eax
        ja      1b
#if !defined(_WIN32)
        movl    %edx, %esp
        .cfi_def_cfa_register %esp
#endif

        xorl    %eax, %eax
        xorl    %ecx, %ecx
        xorl    %edx, %edx
#if defined(__SSE__)
        // The vector registers, where the compiler uses them at all.
        xorps   %xmm0, %xmm0
        xorps   %xmm1, %xmm1
        xorps   %xmm2, %xmm2
        xorps   %xmm3, %xmm3
        xorps   %xmm4, %xmm4
        xorps   %xmm5, %xmm5
        xorps   %xmm6, %xmm6
        xorps   %xmm7, %xmm7
#endif
        ret
#if defined(__ELF__)
        .cfi_endproc
        .size   SYMBOL, .-SYMBOL
        .section .note.GNU-stack, "", @progbits
#endif
