/* A stand-in for the C runtime of a program built in MSVC mode (clang-cl /Zl, linked
 * with lld-link and no default libraries): the entry point, which calls main and ends
 * the process with its result, puts, a printf and fprintf of the few conversions the
 * README's programs use, strlen, memcpy, memset and the stack probe. It declares the three
 * KERNEL32.dll functions it calls itself; kernel32.def makes their import library. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define LUPEX_WINAPI __stdcall
typedef unsigned long lupex_dword;

__declspec(dllimport) void LUPEX_WINAPI ExitProcess(unsigned int exit_code);
__declspec(dllimport) void *LUPEX_WINAPI GetStdHandle(lupex_dword which);
__declspec(dllimport) int LUPEX_WINAPI WriteFile(void *file, const void *bytes,
                                                 lupex_dword count, lupex_dword *written,
                                                 void *overlapped);

#define LUPEX_STD_OUTPUT_HANDLE ((lupex_dword)-11)
#define LUPEX_STD_ERROR_HANDLE ((lupex_dword)-12)

struct lupex_test_file {
    lupex_dword handle;
};
FILE lupex_test_stdout = {LUPEX_STD_OUTPUT_HANDLE}, lupex_test_stderr = {LUPEX_STD_ERROR_HANDLE};

int main(void);

static int write_to(lupex_dword which, const char *bytes, lupex_dword count) {
    void *out = GetStdHandle(which);
    while (count > 0) {
        lupex_dword written = 0;
        if (!WriteFile(out, bytes, count, &written, 0) || written == 0)
            return -1;
        bytes += written;
        count -= written;
    }
    return 0;
}

size_t strlen(const char *text) {
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

int puts(const char *text) {
    return write_to(LUPEX_STD_OUTPUT_HANDLE, text, (lupex_dword)strlen(text)) == 0 &&
                   write_to(LUPEX_STD_OUTPUT_HANDLE, "\n", 1) == 0
               ? 0
               : -1;
}

/* Writes the digits of `value` to the bytes before `end`; returns where they begin. */
static char *decimal(unsigned long value, char *end) {
    do {
        *--end = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

static int format_to(lupex_dword which, const char *format, va_list arguments) {
    int total = 0;
    while (*format != '\0') {
        char digits[24];
        const char *piece = format;
        size_t length;
        if (*format != '%') {
            while (*format != '\0' && *format != '%')
                ++format;
            length = (size_t)(format - piece);
        } else {
            const char conversion = format[1];
            format += 2;
            if (conversion == 's') {
                piece = va_arg(arguments, const char *);
            } else if (conversion == 'd' || conversion == 'u') {
                const int value = va_arg(arguments, int);
                const int negative = conversion == 'd' && value < 0;
                char *first = decimal(negative ? 0UL - (unsigned long)value
                                               : (unsigned long)(unsigned)value,
                                      digits + sizeof digits - 1);
                digits[sizeof digits - 1] = '\0';
                if (negative)
                    *--first = '-';
                piece = first;
            } else if (conversion == 'l' && *format == 'u') {
                ++format;
                digits[sizeof digits - 1] = '\0';
                piece = decimal(va_arg(arguments, unsigned long), digits + sizeof digits - 1);
            } else if (conversion == '%') {
                piece = "%";
            } else {
                return -1; /* not taken here */
            }
            length = strlen(piece);
        }
        if (write_to(which, piece, (lupex_dword)length) != 0)
            return -1;
        total += (int)length;
    }
    return total;
}

int printf(const char *format, ...) {
    va_list arguments;
    int result;
    va_start(arguments, format);
    result = format_to(LUPEX_STD_OUTPUT_HANDLE, format, arguments);
    va_end(arguments);
    return result;
}

int fprintf(FILE *stream, const char *format, ...) {
    va_list arguments;
    int result;
    va_start(arguments, format);
    result = format_to(stream->handle, format, arguments);
    va_end(arguments);
    return result;
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

/* The stack probe that the compiler calls in front of a frame of more than a page (a
 * lupex_key on the stack is one), with the size in eax/rax: it touches each page from
 * the top down, as Windows commits a thread's stack behind a guard page. On x64 it
 * only probes; on x86 it also moves esp down by the size, as Visual Studio's does. */
#if defined(_M_X64)
__asm__(".globl __chkstk\n"
        "__chkstk:\n"
        "  push %rcx\n"
        "  push %rax\n"
        "  cmp $0x1000, %rax\n"
        "  lea 24(%rsp), %rcx\n"
        "  jb 1f\n"
        "2:\n"
        "  sub $0x1000, %rcx\n"
        "  test %rcx, (%rcx)\n"
        "  sub $0x1000, %rax\n"
        "  cmp $0x1000, %rax\n"
        "  ja 2b\n"
        "1:\n"
        "  sub %rax, %rcx\n"
        "  test %rcx, (%rcx)\n"
        "  pop %rax\n"
        "  pop %rcx\n"
        "  ret\n");
#elif defined(_M_IX86)
__asm__(".globl __chkstk\n"
        "__chkstk:\n"
        "  push %ecx\n"
        "  cmp $0x1000, %eax\n"
        "  lea 8(%esp), %ecx\n"
        "  jb 1f\n"
        "2:\n"
        "  sub $0x1000, %ecx\n"
        "  test %ecx, (%ecx)\n"
        "  sub $0x1000, %eax\n"
        "  cmp $0x1000, %eax\n"
        "  ja 2b\n"
        "1:\n"
        "  sub %eax, %ecx\n"
        "  test %ecx, (%ecx)\n"
        "  lea 4(%esp), %eax\n"
        "  mov %ecx, %esp\n"
        "  mov -4(%eax), %ecx\n"
        "  push (%eax)\n"
        "  sub %esp, %eax\n"
        "  ret\n");
#endif
