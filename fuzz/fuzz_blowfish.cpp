// The blowfish export with arbitrary bytes as its host buffer. Each reply must be the
// one that a plain reading of the request gives: words cut at blanks, the checks in
// the order subcommand, key, text, and the reference cipher for the result.
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

std::string expected_reply(const std::string &line) {
    const Word command = word_at(line, 0);
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
    fuzz_check(reply == expected, "blowfish reply differs from the reference",
               "request  " + hex_of(line) + "\nreply    " + hex_of(reply) + "\nexpected " +
                   hex_of(expected));
    return 0;
}
