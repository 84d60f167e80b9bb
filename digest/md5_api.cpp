// lupex_md5, the digest function of the C API.
#include "digest/digest.h"
#include "lupex.h"
#include "plugin/clear_regs.h"
#include "plugin/stack_clear.h"

namespace lupex {

void md5_digits(const void *data, std::size_t length, char *out) {
    md5_hex(data, length, out);
    out[32] = '\0';
}

} // namespace lupex

LUPEX_CLEAR_REGS int lupex_md5(const void *data, std::size_t length, char out[LUPEX_MD5_SIZE]) {
    if (data == nullptr && length != 0)
        return LUPEX_ERR_TEXT;
    if (out == nullptr)
        return LUPEX_ERR_SPACE;
    lupex::md5_digits(data, length, out);
    // The work goes less deep than the md5 procedure's: its clear covers it.
    lupex::clear_stack(lupex::md5_stack_bytes);
    return LUPEX_OK;
}
