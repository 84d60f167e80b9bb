// The dllinfo export with arbitrary bytes as its host buffer: always the same line, and
// nothing beyond the LUPEX_BUFFER_MIN bytes every host supplies read or written.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const std::string first = call_guarded(dllinfo, "", 0, LUPEX_BUFFER_MIN);
    fuzz_check(first.compare(0, 20, "+OK lupex.dll 20720 ") == 0, "not the identification line",
               first);
    const std::string reply = call_guarded(dllinfo, data, size, LUPEX_BUFFER_MIN);
    fuzz_check(reply == first, "dllinfo reply depends on the buffer", reply);
    return 0;
}
