// The lifecycle hooks and the identification procedure.
#include <cstring>

#include "plugin/clear_regs.h"
#include "plugin/reply.h"

using namespace lupex;

LUPEX_CLEAR_REGS void LUPEX_CALL LoadDll(void *) {}

LUPEX_CLEAR_REGS int LUPEX_CALL UnloadDll(int) { return 1; }

namespace {
constexpr char identification[] =
    "lupex.dll 20720 Blowfish text cipher and MD5 digest, provided as is without warranty";
}

LUPEX_CLEAR_REGS int LUPEX_CALL dllinfo(void *, void *, char *buffer, void *, int, int) {
    if (buffer == nullptr)
        return PROC_RESULT;
    // The request does not matter here, so a host may leave it without a terminator:
    // look no further than the LUPEX_BUFFER_MIN bytes every host supplies. (A loop, not
    // memchr: lupex.dll imports no C library function beyond the four it needs anyway.)
    std::size_t request_length = 0;
    while (request_length < LUPEX_BUFFER_MIN && buffer[request_length] != '\0')
        ++request_length;
    const std::size_t reply_length =
        reply_ok(buffer, identification, sizeof identification - 1);
    clear_request_tail(buffer, request_length, reply_length);
    return PROC_RESULT;
}
