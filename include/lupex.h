/* lupex: Blowfish text cipher, password hash and MD5 digest as a plug-in library.
 * Copyright (c) 2026 the lupex authors. MIT License: see LICENSE.
 *
 * A host loads the library (lupex.dll on Windows, liblupex.so elsewhere), looks the
 * procedures up by name and calls them with one text buffer. The buffer holds the
 * request, a zero-terminated line of words; on return it holds one reply line,
 * written from its first byte:
 *
 *   "+OK <result>"          success
 *   "-<CODE> <message>"     failure: FUNC, KEY, STRING, MEMORY, or "-STRING" for md5
 *
 * Buffer contract: a reply is at most LUPEX_REPLY_MAX (1,023) characters plus its
 * terminator, and the library is not told the buffer's capacity, so a host supplies
 * at least LUPEX_BUFFER_MIN (1,024) bytes, and at least the request plus its
 * terminator. Every procedure zeroes whatever is left of the request behind the
 * reply line (dllinfo, which does not read the request, within the first
 * LUPEX_BUFFER_MIN bytes). Every procedure returns LUPEX_PROC_RESULT (3), whatever
 * the reply.
 *
 *   char buffer[LUPEX_BUFFER_MIN] = "encrypt secret Hello, world";
 *   blowfish(0, 0, buffer, 0, 0, 0);     // buffer: "+OK 26FVP/Vur1q.7J5YR0oj5Ks1"
 *
 * All five exports use the stdcall convention on 32-bit x86 (the callee removes its
 * arguments; the names are undecorated) and the platform's only convention
 * elsewhere. Calls from several threads at once are safe: the library keeps nothing
 * between calls.
 */
#ifndef LUPEX_H
#define LUPEX_H

#if defined(_WIN32)
#define LUPEX_CALL __stdcall
#elif defined(__i386__)
#define LUPEX_CALL __attribute__((stdcall))
#else
#define LUPEX_CALL
#endif

/* Windows exports come from the module definition file; ELF builds hide everything
 * else and mark these five. */
#if !defined(_WIN32) && defined(LUPEX_BUILDING)
#define LUPEX_API __attribute__((visibility("default")))
#else
#define LUPEX_API
#endif

#define LUPEX_PROC_RESULT 3
#define LUPEX_REPLY_MAX 1023
#define LUPEX_BUFFER_MIN 1024

#ifdef __cplusplus
extern "C" {
#endif

/* A procedure: the third argument is the host buffer; the other five belong to the
 * host and are never read. On 32-bit x86 they are six 32-bit values (24 bytes). */
typedef int(LUPEX_CALL *lupex_procedure)(void *host_a, void *host_b, char *buffer,
                                         void *host_d, int host_e, int host_f);

/* Lifecycle hooks: both do nothing; UnloadDll always returns 1. */
LUPEX_API void LUPEX_CALL LoadDll(void *load_info);
LUPEX_API int LUPEX_CALL UnloadDll(int reason);

/* "encrypt KEY TEXT", "decrypt KEY TEXT", "encpass PASSWORD". Words are separated by
 * blanks; TEXT and PASSWORD are the rest of the line, inner and trailing blanks kept.
 * Only the first 72 bytes of KEY or PASSWORD count. A TEXT of more than 672 bytes
 * to encrypt is refused ("-STRING String too long"): its cipher text would not fit
 * in one reply line. */
LUPEX_API int LUPEX_CALL blowfish(void *host_a, void *host_b, char *buffer, void *host_d,
                                  int host_e, int host_f);

/* "+OK lupex.dll 20720 ..." whatever the buffer held, terminated or not: it reads and
 * writes nothing beyond the first LUPEX_BUFFER_MIN bytes. */
LUPEX_API int LUPEX_CALL dllinfo(void *host_a, void *host_b, char *buffer, void *host_d,
                                 int host_e, int host_f);

/* The MD5 digest of the whole buffer text as 32 lowercase hex digits. */
LUPEX_API int LUPEX_CALL md5(void *host_a, void *host_b, char *buffer, void *host_d,
                             int host_e, int host_f);

#ifdef __cplusplus
}
#endif

#endif /* LUPEX_H */
