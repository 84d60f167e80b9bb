/* A program of one's own built in MSVC mode (clang-cl, no C runtime, runtime.c for
 * its entry and puts), linked with lld-link against the lupex.lib that its #pragma
 * names: calls all five exports
 * through lupex.h with the README's requests, prints each reply, and exits with the
 * number of results or replies that differ from the README's. Builds as C and C++. */
#include <stdio.h>

#include <lupex.h>

/* The import library named here, for link to find on its /LIBPATH. */
#pragma comment(lib, "lupex.lib")

static int failures = 0;

static int same(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

static void copy(char *to, const char *from) {
    while ((*to++ = *from++) != '\0') {
    }
}

static void check(const char *what, int result, int expected_result, const char *reply,
                  const char *expected) {
    const int ok = result == expected_result && (expected == 0 || same(reply, expected));
    puts(what);
    if (expected != 0)
        puts(reply);
    if (!ok) {
        puts("  <- unexpected");
        ++failures;
    }
}

static const struct {
    lupex_procedure procedure;
    const char *request, *reply;
} calls[] = {
    {blowfish, "encrypt secret Hello, world", "+OK 26FVP/Vur1q.7J5YR0oj5Ks1"},
    {blowfish, "decrypt secret 26FVP/Vur1q.7J5YR0oj5Ks1", "+OK Hello, world"},
    {blowfish, "encpass my password", "+OK +dOPeI/Zzs7N0"},
    {blowfish, "encrypt secret", "-STRING Invalid String"},
    {md5, "abc", "+OK 900150983cd24fb0d6963f7d28e17f72"},
    {md5, "", "--STRING Enter a string to encrypt"},
    {dllinfo, "anything",
     "+OK lupex.dll 20720 Blowfish text cipher and MD5 digest, provided as is without "
     "warranty"},
};

int main(void) {
    /* A guard byte behind the buffer: no reply may reach it. */
    static char buffer[LUPEX_BUFFER_MIN + 1];
    unsigned i;

    LoadDll(0);
    check("UnloadDll", UnloadDll(0), 1, 0, 0);
    for (i = 0; i < sizeof calls / sizeof calls[0]; ++i) {
        buffer[LUPEX_BUFFER_MIN] = 'G';
        copy(buffer, calls[i].request);
        check(calls[i].request, calls[i].procedure(0, 0, buffer, 0, 0, 0), LUPEX_PROC_RESULT,
              buffer, calls[i].reply);
        if (buffer[LUPEX_BUFFER_MIN] != 'G') {
            puts("  <- the guard byte behind the buffer changed");
            ++failures;
        }
    }
    return failures;
}
