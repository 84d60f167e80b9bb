/* A C program of one's own for Windows, linked against an installed lupex.dll
 * through its import library, calling all five exports through lupex.h. Prints each
 * reply; then makes round trips from eight threads at once, whose starts and ends
 * reach the DLL's entry point while the others call it. Exits with 0 when every
 * result and reply is the expected one. Builds as C and as C++. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

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

/* Encrypt and decrypt round trips of a text of its own, and its digest; the number of
 * wrong replies. */
static DWORD WINAPI round_trips(LPVOID argument) {
    const int thread = (int)(INT_PTR)argument;
    char text[64], buffer[LUPEX_BUFFER_MIN], request[LUPEX_BUFFER_MIN];
    DWORD wrong = 0;
    int i;
    for (i = 0; i < 200; ++i) {
        sprintf(text, "thread %d, round %d: the quick brown fox", thread, i);
        sprintf(buffer, "encrypt key%d %s", thread, text);
        blowfish(NULL, NULL, buffer, NULL, 0, 0);
        sprintf(request, "decrypt key%d %s", thread, buffer + 4);
        strcpy(buffer, request);
        blowfish(NULL, NULL, buffer, NULL, 0, 0);
        wrong += strncmp(buffer, "+OK ", 4) != 0 || strcmp(buffer + 4, text) != 0;
        strcpy(buffer, "abc");
        md5(NULL, NULL, buffer, NULL, 0, 0);
        wrong += strcmp(buffer, "+OK 900150983cd24fb0d6963f7d28e17f72") != 0;
    }
    return wrong;
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

    {
        HANDLE threads[8];
        int t;
        DWORD wrong, all_wrong = 0;
        for (t = 0; t < 8; ++t)
            threads[t] = CreateThread(NULL, 0, round_trips, (LPVOID)(INT_PTR)t, 0, NULL);
        for (t = 0; t < 8; ++t) {
            if (threads[t] == NULL || WaitForSingleObject(threads[t], INFINITE) != WAIT_OBJECT_0 ||
                !GetExitCodeThread(threads[t], &wrong))
                wrong = 1;
            all_wrong += wrong;
            if (threads[t] != NULL)
                CloseHandle(threads[t]);
        }
        printf("8 threads, 200 round trips and digests each: %lu wrong%s\n",
               (unsigned long)all_wrong, all_wrong == 0 ? "" : "  <- unexpected");
        failures += all_wrong != 0;
    }
    return failures == 0 ? 0 : 1;
}
