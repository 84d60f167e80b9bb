// lupex_md5, the digest function of the C API.
#include "digest/md5_api.h"

#include "digest/digest.h"
#include "digest/md5_procedure.h"
#include "lupex.h"
#include "plugin/clear_regs.h"
#include "plugin/stack_clear.h"

void md5_digits(const void *data, std::size_t length, char *out) {
    md5_hex(data, length, out);
    out[32] = '\0';
}

LUPEX_CLEAR_REGS void lupex_md5(const void *data, std::size_t length, char out[33]) {
    if (out == nullptr)
        return;
    md5_digits(data, length, out);
    // The work goes less deep than the md5 procedure's: its clear covers it.
    clear_stack(md5_stack_bytes);
}
