/* A C program of one's own built with pkg-config's flags against an installed or
 * unpacked lupex:
 *   cc pkgconfig_consumer.c $(pkg-config --cflags --libs lupex) -o consumer
 * Calls md5 and an encrypt and decrypt round trip through lupex.h; exits with 0 when
 * every reply is the expected one. */
#include <stdio.h>
#include <string.h>

#include <lupex.h>

static int check(const char *what, int result, const char *reply, const char *expected) {
    const int ok = result == LUPEX_PROC_RESULT && strcmp(reply, expected) == 0;
    printf("%s: %s%s\n", what, reply, ok ? "" : "  <- unexpected");
    return ok;
}

int main(void) {
    char buffer[LUPEX_BUFFER_MIN] = "abc";
    char request[LUPEX_BUFFER_MIN];
    int ok = check("md5", md5(NULL, NULL, buffer, NULL, 0, 0), buffer,
                   "+OK 900150983cd24fb0d6963f7d28e17f72");

    strcpy(buffer, "encrypt secret Hello, world");
    ok &= check("encrypt", blowfish(NULL, NULL, buffer, NULL, 0, 0), buffer,
                "+OK 26FVP/Vur1q.7J5YR0oj5Ks1");

    snprintf(request, sizeof request, "decrypt secret %s", buffer + 4);
    strcpy(buffer, request);
    ok &= check("decrypt", blowfish(NULL, NULL, buffer, NULL, 0, 0), buffer,
                "+OK Hello, world");
    return ok ? 0 : 1;
}
