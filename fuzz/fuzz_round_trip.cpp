// Decryption undoes encryption for every zero-free text and key (the input's two
// parts): through text_encrypt and text_decrypt for any key but the empty one (which
// the procedure turns away first) and any length, and through
// the blowfish export wherever the key is one word and the text fits in a reply
// (672 bytes at most; longer ones must be refused). The cipher text must also be the
// reference's.
#include "cipher/text_cipher.h"
#include "fuzz_support.h"
#include "plugin/platform.h"
#include "reference_cipher.h"

using namespace lupex;

namespace {

std::string taken(char *block) {
    fuzz_check(block != nullptr, "no result");
    std::string text = block;
    heap_release(block);
    return text;
}

std::string call_blowfish(const std::string &request) {
    return call_guarded(blowfish, request.data(), request.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const TwoTexts input = split_at_zero(data, size);
    const std::string &key = input.first, &text = input.second;
    if (key.empty())
        return 0;
    const long live = heap_hooks_live_blocks();

    const auto exact_key = exact_text(key.data(), key.size());
    const auto exact_plain = exact_text(text.data(), text.size());
    const std::string cipher = taken(text_encrypt(exact_key.get(), exact_plain.get()));
    fuzz_check(cipher == reference::encrypt(key, text), "cipher text differs from the reference",
               "key  " + hex_of(key) + "\ntext " + hex_of(text));
    const auto exact_cipher = exact_text(cipher.data(), cipher.size());
    fuzz_check(taken(text_decrypt(exact_key.get(), exact_cipher.get())) == text,
               "text_decrypt did not undo text_encrypt", hex_of(key) + "\n" + hex_of(text));
    fuzz_check(heap_hooks_live_blocks() == live, "the text functions left heap blocks behind");

    const bool one_word = !key.empty() && key.find(' ') == std::string::npos;
    if (!one_word || text.empty() || text[0] == ' ')
        return 0;
    const std::string encrypted = call_blowfish("encrypt " + key + " " + text);
    if (text.size() > 672) {
        fuzz_check(encrypted == "-STRING String too long", "a long text was not refused", encrypted);
        return 0;
    }
    fuzz_check(encrypted == "+OK " + cipher, "the export's cipher text differs", encrypted);
    const std::string decrypted = call_blowfish("decrypt " + key + " " + cipher);
    fuzz_check(decrypted == "+OK " + text, "the export's decryption differs",
               hex_of(key) + "\n" + hex_of(text) + "\n" + hex_of(decrypted));
    return 0;
}
