/* The one function of <string.h> that the programs built in MSVC mode use, for a
 * machine without Visual Studio's headers and C runtime: runtime.c provides it. */
#ifndef LUPEX_TEST_STRING_H
#define LUPEX_TEST_STRING_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

size_t strlen(const char *text);

#ifdef __cplusplus
}
#endif

#endif
