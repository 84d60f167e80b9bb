/* A stand-in for the C runtime of a program built in MSVC mode (clang-cl /Zl, linked
 * with lld-link and no default libraries): the entry point, which calls main and ends
 * the process with its result, puts, memcpy and memset. It declares the three KERNEL32.dll functions
 * it calls itself; kernel32.def makes their import library. */
#include <stdio.h>

#define LUPEX_WINAPI __stdcall
typedef unsigned long lupex_dword;

__declspec(dllimport) void LUPEX_WINAPI ExitProcess(unsigned int exit_code);
__declspec(dllimport) void *LUPEX_WINAPI GetStdHandle(lupex_dword which);
__declspec(dllimport) int LUPEX_WINAPI WriteFile(void *file, const void *bytes,
                                                 lupex_dword count, lupex_dword *written,
                                                 void *overlapped);

#define LUPEX_STD_OUTPUT_HANDLE ((lupex_dword)-11)

int main(void);

static int write_all(const char *bytes, lupex_dword count) {
    void *out = GetStdHandle(LUPEX_STD_OUTPUT_HANDLE);
    while (count > 0) {
        lupex_dword written = 0;
        if (!WriteFile(out, bytes, count, &written, 0) || written == 0)
            return -1;
        bytes += written;
        count -= written;
    }
    return 0;
}

int puts(const char *text) {
    lupex_dword length = 0;
    while (text[length] != '\0')
        ++length;
    return write_all(text, length) == 0 && write_all("\n", 1) == 0 ? 0 : -1;
}

/* The compiler calls these for large initialisers and copies, as it would the C
 * runtime's. This file is compiled with /Oi- (no builtins), so that the loops are not
 * turned back into calls of themselves. */
void *memcpy(void *to, const void *from, size_t count) {
    unsigned char *t = (unsigned char *)to;
    const unsigned char *f = (const unsigned char *)from;
    while (count-- > 0)
        *t++ = *f++;
    return to;
}

void *memset(void *to, int value, size_t count) {
    unsigned char *t = (unsigned char *)to;
    while (count-- > 0)
        *t++ = (unsigned char)value;
    return to;
}

/* lld-link /entry:lupex_test_entry. Windows passes one argument that a program
 * without a runtime has no use for; the process ends here, so nothing returns. */
void lupex_test_entry(void) {
    ExitProcess((unsigned int)main());
}
