// The blowfish export with arbitrary bytes as its host buffer. Each reply must be the
// one that a plain reading of the request gives: words cut at blanks, the checks in
// the order subcommand, key, text, and the reference cipher for the result. The CBC
// form's cipher text is new every time: an "encrypt-cbc" reply must be of its length
// and decrypt to the text; what "decrypt-cbc" gives, fuzz_decrypt_cbc checks.
#include "fuzz_support.h"
#include "reference_cipher.h"

namespace {

struct Word {
    std::string word;
    std::size_t rest; // where the remainder starts, blanks behind the word skipped
};

Word word_at(const std::string &line, std::size_t at) {
    while (at < line.size() && line[at] == ' ')
        ++at;
    std::size_t end = line.find(' ', at);
    if (end == std::string::npos)
        end = line.size();
    std::size_t rest = end;
    while (rest < line.size() && line[rest] == ' ')
        ++rest;
    return {line.substr(at, end - at), rest};
}

// A result is replied whole or not at all.
std::string whole_or_too_long(const std::string &result) {
    return result.size() > LUPEX_REPLY_MAX - 4 ? "-STRING String too long" : "+OK " + result;
}

// The reply, or "" for a reply of the CBC form that check_cbc_reply judges.
std::string expected_reply(const std::string &line) {
    const Word command = word_at(line, 0);
    if (command.word == "encrypt-cbc" || command.word == "decrypt-cbc") {
        const Word key = word_at(line, command.rest);
        if (key.word.empty())
            return "-KEY Invalid Key";
        if (line.size() == key.rest)
            return "-STRING Invalid String";
        const std::size_t n = line.size() - key.rest;
        if (command.word == "encrypt-cbc" && n > 752)
            return "-STRING String too long";
        return "";
    }
    if (command.word == "encrypt" || command.word == "decrypt") {
        const Word key = word_at(line, command.rest);
        const std::string text = line.substr(key.rest);
        if (key.word.empty())
            return "-KEY Invalid Key";
        if (text.empty())
            return "-STRING Invalid String";
        return whole_or_too_long(command.word == "encrypt" ? reference::encrypt(key.word, text)
                                                           : reference::decrypt(key.word, text));
    }
    if (command.word == "encpass") {
        const std::string password = line.substr(command.rest);
        return password.empty() ? "-STRING Invalid String"
                                : "+OK " + reference::pass_hash(password);
    }
    return "-FUNC Unknown subfunction";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string reply = call_guarded(blowfish, data, size);
    const std::string line(reinterpret_cast<const char *>(data),
                           strnlen(reinterpret_cast<const char *>(data), size));
    const std::string expected = expected_reply(line);
    if (expected.empty()) {
        const Word command = word_at(line, 0), key = word_at(line, command.rest);
        const std::string text = line.substr(key.rest);
        if (command.word == "decrypt-cbc") {
            fuzz_check(reply.compare(0, 4, "+OK ") == 0 || reply == "-STRING Invalid String" ||
                           reply == "-STRING String too long",
                       "not a reply of decrypt-cbc", hex_of(reply));
            return 0;
        }
        const std::size_t blocks = (text.size() + 7) / 8;
        fuzz_check(reply.size() == 4 + 1 + 4 * ((8 + 8 * blocks + 2) / 3) &&
                       reply.compare(0, 5, "+OK *") == 0,
                   "not a reply of encrypt-cbc", hex_of(line) + "\n" + reply);
        std::string plain(reply.size(), '\0');
        std::size_t length = 0;
        fuzz_check(lupex_decrypt_cbc(key.word.data(), key.word.size(), reply.data() + 4,
                                     reply.size() - 4, &plain[0], plain.size(), &length) ==
                           LUPEX_OK &&
                       plain.substr(0, length) == text,
                   "encrypt-cbc does not decrypt to its text", hex_of(line) + "\n" + reply);
        return 0;
    }
    fuzz_check(reply == expected, "blowfish reply differs from the reference",
               "request  " + hex_of(line) + "\nreply    " + hex_of(reply) + "\nexpected " +
                   hex_of(expected));
    return 0;
}
