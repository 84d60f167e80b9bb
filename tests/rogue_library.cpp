// A library that breaks the buffer contract, for the host's guard checks: its md5
// writes a reply that runs past a 1,024-byte buffer, its blowfish fills the buffer
// without a terminator. The host must refuse both replies (exit status 3).
#include <cstring>

#define LUPEX_BUILDING
#include "lupex.h"

int LUPEX_CALL md5(void *, void *, char *buffer, void *, int, int) {
    std::memset(buffer, 'x', LUPEX_BUFFER_MIN + 8);
    buffer[LUPEX_BUFFER_MIN + 8] = '\0';
    return LUPEX_PROC_RESULT;
}

int LUPEX_CALL blowfish(void *, void *, char *buffer, void *, int, int) {
    std::memset(buffer, 'x', LUPEX_BUFFER_MIN);
    return LUPEX_PROC_RESULT;
}
