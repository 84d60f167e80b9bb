// The lifecycle hooks and the identification procedure.
#include "plugin/reply.h"

void LUPEX_CALL LoadDll(void *) {}

int LUPEX_CALL UnloadDll(int) { return 1; }

int LUPEX_CALL dllinfo(void *, void *, char *buffer, void *, int, int) {
    if (buffer != nullptr)
        reply_ok(buffer, "lupex.dll 20720 Blowfish text cipher and MD5 digest, "
                         "provided as is without warranty");
    return PROC_RESULT;
}
