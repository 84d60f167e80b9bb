// lupex_clear_stack on targets without a routine of their own in assembly: best
// effort (see stack_clear.h).
#include "plugin/stack_clear.h"

#include "plugin/platform.h"

namespace lupex {

// Never inlined: the block must lie in a frame of its own, below the caller's. The
// wipe's compiler barrier keeps the clearing from being dropped as a dead store.
extern "C" [[gnu::noinline]] void lupex_clear_stack(std::size_t bytes) {
    void *block = __builtin_alloca(bytes);
    wipe_memory(block, bytes);
}

} // namespace lupex
