// text_decrypt with an arbitrary key (not empty: the procedure turns an empty one away
// first) and an arbitrary text (the input's two zero-free parts), each in a block of
// exactly its size, against the reference cipher.
#include "cipher/text_cipher.h"
#include "fuzz_support.h"
#include "plugin/platform.h"
#include "reference_cipher.h"

using namespace lupex;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const TwoTexts input = split_at_zero(data, size);
    if (input.first.empty())
        return 0;
    const auto key = exact_text(input.first.data(), input.first.size());
    const auto text = exact_text(input.second.data(), input.second.size());
    const long live = heap_hooks_live_blocks();

    char *plain = text_decrypt(key.get(), text.get());
    fuzz_check(plain != nullptr, "text_decrypt gave no result");
    const std::string got = plain;
    heap_release(plain);
    fuzz_check(heap_hooks_live_blocks() == live, "text_decrypt left heap blocks behind");

    const std::string expected = reference::decrypt(input.first, input.second);
    fuzz_check(got == expected, "decryption differs from the reference",
               "key      " + hex_of(input.first) + "\ntext     " + hex_of(input.second) +
                   "\ngot      " + hex_of(got) + "\nexpected " + hex_of(expected));
    return 0;
}
