// Clearing the stack that an exported procedure's work used. Wiping the named arrays
// is not enough: the compiler keeps block halves, message words and key bytes in
// spill slots and saved registers of its own choosing. So an export runs its work in
// a function that is never inlined into it and then calls clear_stack from the same
// frame: clear_stack's frame lies where the work's frames lay, and clearing it clears
// whatever they left there.
#pragma once

#include <cstddef>

namespace lupex {

// Clears `bytes` bytes of the stack just below the caller's frame, behind the few bytes
// of clear_stack's own return address and saved frame pointer (where the work kept its
// return address and the registers it saves for the export, which hold nothing of the
// work). `bytes` is how deep the work goes, measured, with a margin: each byte costs
// the call a little time.
void clear_stack(std::size_t bytes);

} // namespace lupex
