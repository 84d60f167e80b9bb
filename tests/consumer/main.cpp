// Calls the library through lupex.h and the imported target lupex::lupex, as a
// program of one's own does: md5, then an encrypt and decrypt round trip. Prints each
// reply; exits with 0 when every reply is the expected one.
#include <cstdio>
#include <cstring>

#include <lupex.h>

namespace {

bool check(const char *what, int result, const char *reply, const char *expected) {
    const bool ok = result == LUPEX_PROC_RESULT && std::strcmp(reply, expected) == 0;
    std::printf("%s: %s%s\n", what, reply, ok ? "" : "  <- unexpected");
    return ok;
}

} // namespace

int main() {
    char buffer[LUPEX_BUFFER_MIN] = "abc";
    int result = md5(nullptr, nullptr, buffer, nullptr, 0, 0);
    bool ok = check("md5", result, buffer, "+OK 900150983cd24fb0d6963f7d28e17f72");

    std::strcpy(buffer, "encrypt secret Hello, world");
    result = blowfish(nullptr, nullptr, buffer, nullptr, 0, 0);
    ok &= check("encrypt", result, buffer, "+OK 26FVP/Vur1q.7J5YR0oj5Ks1");

    char request[LUPEX_BUFFER_MIN];
    std::snprintf(request, sizeof request, "decrypt secret %s", buffer + 4);
    std::strcpy(buffer, request);
    result = blowfish(nullptr, nullptr, buffer, nullptr, 0, 0);
    ok &= check("decrypt", result, buffer, "+OK Hello, world");
    return ok ? 0 : 1;
}
