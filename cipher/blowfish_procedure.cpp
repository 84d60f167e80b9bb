// The blowfish procedure: "encrypt KEY TEXT", "decrypt KEY TEXT", their CBC forms
// "encrypt-cbc KEY TEXT" and "decrypt-cbc KEY CIPHERTEXT", and "encpass PASSWORD".
#include "cipher/blowfish_procedure.h"

#include <cstring>

#include "cipher/text_cipher.h"
#include "plugin/clear_regs.h"
#include "plugin/platform.h"
#include "plugin/reply.h"
#include "plugin/stack_clear.h"

namespace lupex {

char *next_word(char **cursor, char separator) {
    // Every scan stops at the terminator, even when it equals the separator: no
    // separator may carry the cursor out of the line.
    char *p = *cursor;
    while (*p != '\0' && *p == separator)
        ++p;
    char *const word = p;
    while (*p != '\0' && *p != separator)
        ++p;
    if (*p != '\0') {
        *p++ = '\0';
        while (*p != '\0' && *p == separator)
            ++p;
    }
    *cursor = p;
    return word;
}

namespace {

// The forms of "encrypt" and "decrypt".
enum Form { ecb, cbc };

void encrypt_or_decrypt(char *buffer, char *cursor, bool encrypt, Form form) {
    const char *key = next_word(&cursor, ' ');
    const char *text = cursor;
    if (key[0] == '\0') {
        reply_fail(buffer, "KEY", "Invalid Key");
        return;
    }
    if (text[0] == '\0') {
        reply_fail(buffer, "STRING", "Invalid String");
        return;
    }
    // The cipher text's length is known in advance: refuse before doing the work.
    const std::size_t cipher_bytes =
        form == ecb ? encrypt_capacity(std::strlen(text)) : cbc_encrypt_capacity(std::strlen(text));
    if (encrypt && (cipher_bytes == 0 || cipher_bytes - 1 > REPLY_RESULT_MAX)) {
        reply_too_long(buffer);
        return;
    }
    // A plain text that passes what a reply holds is refused whole, so no more of the
    // cipher text is decrypted than gives one byte beyond it.
    char *result = nullptr;
    CbcStatus status = cbc_ok;
    if (form == ecb)
        result = encrypt ? text_encrypt(key, text) : text_decrypt(key, text, REPLY_RESULT_MAX);
    else if (encrypt)
        status = text_encrypt_cbc(key, text, &result);
    else
        status = text_decrypt_cbc(key, text, &result, REPLY_RESULT_MAX);
    if (status == cbc_malformed) {
        reply_fail(buffer, "STRING", "Invalid String");
        return;
    }
    if (status == cbc_random_failed) {
        reply_fail(buffer, "RANDOM", "Random source failed");
        return;
    }
    if (result == nullptr) {
        reply_fail(buffer, "MEMORY", "Out of memory");
        return;
    }
    reply_ok(buffer, result);
    heap_release(result);
}

} // namespace

[[gnu::noinline]] void blowfish_request(char *buffer) {
    const std::size_t request_length = std::strlen(buffer);
    char *cursor = buffer;
    const char *command = next_word(&cursor, ' ');
    // Subcommands compare byte for byte: "Encrypt" is not "encrypt".
    if (std::strcmp(command, "encrypt") == 0) {
        encrypt_or_decrypt(buffer, cursor, true, ecb);
    } else if (std::strcmp(command, "decrypt") == 0) {
        encrypt_or_decrypt(buffer, cursor, false, ecb);
    } else if (std::strcmp(command, "encrypt-cbc") == 0) {
        encrypt_or_decrypt(buffer, cursor, true, cbc);
    } else if (std::strcmp(command, "decrypt-cbc") == 0) {
        encrypt_or_decrypt(buffer, cursor, false, cbc);
    } else if (std::strcmp(command, "encpass") == 0) {
        if (cursor[0] == '\0') {
            reply_fail(buffer, "STRING", "Invalid String");
        } else {
            char hash[16];
            pass_hash(cursor, hash);
            reply_ok(buffer, hash);
        }
    } else {
        reply_fail(buffer, "FUNC", "Unknown subfunction");
    }
    clear_request_tail(buffer, request_length);
}

} // namespace lupex

LUPEX_CLEAR_REGS int LUPEX_CALL blowfish(void *, void *, char *buffer, void *, int, int) {
    if (buffer != nullptr) {
        lupex::blowfish_request(buffer);
        lupex::clear_stack(lupex::blowfish_stack_bytes);
    }
    return lupex::PROC_RESULT;
}
