// lupex_md5, the digest function of the C API.
#include "digest/digest.h"
#include "digest/md5_procedure.h"
#include "lupex.h"
#include "plugin/stack_clear.h"

void lupex_md5(const void *data, std::size_t length, char out[33]) {
    if (out == nullptr)
        return;
    md5_hex(data, length, out);
    out[32] = '\0';
    // md5_hex is the md5 procedure's work less one frame: its clear covers it.
    clear_stack(md5_stack_bytes);
}
