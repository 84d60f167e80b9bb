// lupex_clear_stack(size_t bytes) for 64-bit IBM Z (see stack_clear.h). The call puts
// the return address in r14, not on the stack, and the routine stores nothing of its
// own. The 160 bytes above the stack pointer at entry are the register save area that
// the caller keeps for whatever it calls: the work, called before, saved registers and
// spilled values there too, so the clear starts at their top.
// r0-r5 and f0-f7 are call-used and zeroed; r1 carries the cursor, r3 the bottom.
        .text
        .globl  lupex_clear_stack
        .hidden lupex_clear_stack
        .type   lupex_clear_stack, @function
        .p2align 4
lupex_clear_stack:
        .cfi_startproc
        la      %r1, 160(%r15)          // the cursor: the top of the save area
        aghi    %r2, 63+160
        nill    %r2, 0xffc0             // bytes and the save area, rounded up to 64
        lgr     %r3, %r1
        sgr     %r3, %r2                // the bottom
1:
        aghi    %r1, -64
        xc      0(64, %r1), 0(%r1)
        clgr    %r1, %r3
        jh      1b

        lghi    %r0, 0
        lghi    %r1, 0
        lghi    %r2, 0
        lghi    %r3, 0
        lghi    %r4, 0
        lghi    %r5, 0
        lzdr    %f0
        lzdr    %f1
        lzdr    %f2
        lzdr    %f3
        lzdr    %f4
        lzdr    %f5
        lzdr    %f6
        lzdr    %f7
        br      %r14
        .cfi_endproc
        .size   lupex_clear_stack, .-lupex_clear_stack
        .section .note.GNU-stack, "", @progbits
