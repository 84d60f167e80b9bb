/* The one function of <stdio.h> that the programs built in MSVC mode use, for a
 * machine without Visual Studio's headers and C runtime: runtime.c provides it. */
#ifndef LUPEX_TEST_STDIO_H
#define LUPEX_TEST_STDIO_H

#include <stddef.h> /* NULL and size_t, as <stdio.h> gives them */

#ifdef __cplusplus
extern "C" {
#endif

/* Writes `text` and a line feed to standard output; a negative result on failure. */
int puts(const char *text);

#ifdef __cplusplus
}
#endif

#endif
