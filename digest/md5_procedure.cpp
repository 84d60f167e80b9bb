// The md5 procedure: the digest of the whole buffer text, blanks and all.
#include <cstring>

#include "digest/digest.h"
#include "plugin/clear_regs.h"
#include "plugin/reply.h"
#include "plugin/stack_clear.h"

namespace lupex {

[[gnu::noinline]] void md5_request(char *buffer) {
    if (buffer[0] == '\0') {
        // The code itself starts with a dash, so the line reads "--STRING ...".
        reply_fail(buffer, "-STRING", "Enter a string to encrypt");
        return;
    }
    const std::size_t length = std::strlen(buffer);
    char hex[32];
    md5_hex(buffer, length, hex);
    const std::size_t reply_length = reply_ok(buffer, hex, sizeof hex);
    clear_request_tail(buffer, length, reply_length);
}

} // namespace lupex

LUPEX_CLEAR_REGS int LUPEX_CALL md5(void *, void *, char *buffer, void *, int, int) {
    if (buffer != nullptr) {
        lupex::md5_request(buffer);
        lupex::clear_stack(lupex::md5_stack_bytes);
    }
    return lupex::PROC_RESULT;
}
