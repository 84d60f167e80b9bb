/* A C program of one's own, linked against an installed lupex through its import
 * library (or shared library), calling all five exports through lupex.h. Prints each
 * reply; exits with 0 when every result and reply is the expected one. Builds as C
 * and as C++. */
#include <stdio.h>
#include <string.h>

#include <lupex.h>

static int failures = 0;

/* The result, and the reply unless `expected` is null. */
static void check(const char *what, int result, int expected_result, const char *reply,
                  const char *expected) {
    const int ok = result == expected_result && (expected == NULL || strcmp(reply, expected) == 0);
    printf("%s: %d %s%s\n", what, result, expected == NULL ? "" : reply,
           ok ? "" : "  <- unexpected");
    failures += !ok;
}

int main(void) {
    char buffer[LUPEX_BUFFER_MIN];

    LoadDll(NULL);
    check("UnloadDll", UnloadDll(0), 1, NULL, NULL);

    strcpy(buffer, "anything");
    check("dllinfo", dllinfo(NULL, NULL, buffer, NULL, 0, 0), LUPEX_PROC_RESULT, buffer,
          "+OK lupex.dll 20720 Blowfish text cipher and MD5 digest, provided as is "
          "without warranty");

    strcpy(buffer, "abc");
    check("md5", md5(NULL, NULL, buffer, NULL, 0, 0), LUPEX_PROC_RESULT, buffer,
          "+OK 900150983cd24fb0d6963f7d28e17f72");

    strcpy(buffer, "encrypt secret Hello, world");
    check("encrypt", blowfish(NULL, NULL, buffer, NULL, 0, 0), LUPEX_PROC_RESULT, buffer,
          "+OK 26FVP/Vur1q.7J5YR0oj5Ks1");

    strcpy(buffer, "decrypt secret 26FVP/Vur1q.7J5YR0oj5Ks1");
    check("decrypt", blowfish(NULL, NULL, buffer, NULL, 0, 0), LUPEX_PROC_RESULT, buffer,
          "+OK Hello, world");

    strcpy(buffer, "encpass my password");
    check("encpass", blowfish(NULL, NULL, buffer, NULL, 0, 0), LUPEX_PROC_RESULT, buffer,
          "+OK +dOPeI/Zzs7N0");
    return failures == 0 ? 0 : 1;
}
