/* The functions of <stdio.h> that the programs built in MSVC mode use, for a machine
 * without Visual Studio's headers and C runtime: runtime.c provides them. */
#ifndef LUPEX_TEST_STDIO_H
#define LUPEX_TEST_STDIO_H

#include <stddef.h> /* NULL and size_t, as <stdio.h> gives them */

#ifdef __cplusplus
extern "C" {
#endif

/* Standard output and standard error: all that a FILE is here. */
typedef struct lupex_test_file FILE;
extern FILE lupex_test_stdout, lupex_test_stderr;
#define stdout (&lupex_test_stdout)
#define stderr (&lupex_test_stderr)

/* Writes `text` and a line feed to standard output; a negative result on failure. */
int puts(const char *text);

/* Formatted output of %s, %d, %u, %lu and %%, nothing else; the number of bytes
 * written, or a negative result on failure. */
int printf(const char *format, ...);
int fprintf(FILE *stream, const char *format, ...);

#ifdef __cplusplus
}
#endif

#endif
