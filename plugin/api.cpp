// The C API's messages and version.
#include "lupex.h"

const char *lupex_error_string(int code) {
    switch (code) {
    case LUPEX_OK:
        return "Success";
    case LUPEX_ERR_KEY:
        return "Invalid key: empty or null, or a prepared key that is not set up";
    case LUPEX_ERR_TEXT:
        return "Invalid text: empty or null, a zero byte in a text to encrypt, too long, or a "
               "malformed cipher text";
    case LUPEX_ERR_SPACE:
        return "No room for the result: the output is null, too small, or overlaps the input";
    case LUPEX_ERR_MEMORY:
        return "Out of memory";
    case LUPEX_ERR_RANDOM:
        return "Random source failed";
    default:
        return "Unknown lupex error code";
    }
}

const char *lupex_version(void) { return LUPEX_VERSION_STRING; }
