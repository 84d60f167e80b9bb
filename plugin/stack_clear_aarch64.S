// lupex_clear_stack(size_t bytes) for 64-bit ARM (see stack_clear.h). The call puts
// the return address in x30, not on the stack, and the routine stores nothing of its
// own: the block it clears starts right below the caller's stack pointer.
// x0-x17 are call-used (x18 is the platform's), and v0-v7 and v16-v31 whole (v8-v15
// keep their low halves for the caller; their high halves are never used by code
// that keeps anything in them across a call, and are left alone).
        .text
        .globl  lupex_clear_stack
#if defined(__ELF__)
        .hidden lupex_clear_stack
        .type   lupex_clear_stack, %function
#endif
        .p2align 4
lupex_clear_stack:
        .cfi_startproc
        // sp is 16-byte aligned: pairs of zero registers, 64 bytes a round, from the
        // top down, so that the first store into each page is at its top.
        mov     x1, sp                  // the cursor: the top of what is left
        add     x0, x0, #63
        and     x0, x0, #-64
        sub     x2, x1, x0              // the bottom: cursor - bytes rounded up to 64
1:
        stp     xzr, xzr, [x1, #-16]
        stp     xzr, xzr, [x1, #-32]
        stp     xzr, xzr, [x1, #-48]
        stp     xzr, xzr, [x1, #-64]!
        cmp     x1, x2
        b.hi    1b

        mov     x0, xzr
        mov     x1, xzr
        mov     x2, xzr
        mov     x3, xzr
        mov     x4, xzr
        mov     x5, xzr
        mov     x6, xzr
        mov     x7, xzr
        mov     x8, xzr
        mov     x9, xzr
        mov     x10, xzr
        mov     x11, xzr
        mov     x12, xzr
        mov     x13, xzr
        mov     x14, xzr
        mov     x15, xzr
        mov     x16, xzr
        mov     x17, xzr
        movi    v0.16b, #0
        movi    v1.16b, #0
        movi    v2.16b, #0
        movi    v3.16b, #0
        movi    v4.16b, #0
        movi    v5.16b, #0
        movi    v6.16b, #0
        movi    v7.16b, #0
        movi    v16.16b, #0
        movi    v17.16b, #0
        movi    v18.16b, #0
        movi    v19.16b, #0
        movi    v20.16b, #0
        movi    v21.16b, #0
        movi    v22.16b, #0
        movi    v23.16b, #0
        movi    v24.16b, #0
        movi    v25.16b, #0
        movi    v26.16b, #0
        movi    v27.16b, #0
        movi    v28.16b, #0
        movi    v29.16b, #0
        movi    v30.16b, #0
        movi    v31.16b, #0
        ret
        .cfi_endproc
#if defined(__ELF__)
        .size   lupex_clear_stack, .-lupex_clear_stack
        .section .note.GNU-stack, "", %progbits
#endif
