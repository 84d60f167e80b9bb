// The lifecycle hooks and the identification procedure.
#include <cstring>

#include "plugin/reply.h"

void LUPEX_CALL LoadDll(void *) {}

int LUPEX_CALL UnloadDll(int) { return 1; }

int LUPEX_CALL dllinfo(void *, void *, char *buffer, void *, int, int) {
    if (buffer == nullptr)
        return PROC_RESULT;
    const std::size_t request_length = std::strlen(buffer);
    reply_ok(buffer, "lupex.dll 20720 Blowfish text cipher and MD5 digest, "
                     "provided as is without warranty");
    clear_request_tail(buffer, request_length);
    return PROC_RESULT;
}
