// next_word against a plain reimplementation: the first input byte is the separator
// (any byte), the rest up to a zero byte is the line, held in a block of exactly its
// size. The line is cut into words until it is used up; each word, each cursor
// position and every byte of the line after each cut must agree.
#include "cipher/blowfish_procedure.h"
#include "fuzz_support.h"

using namespace lupex;

namespace {

// The reference works on indices into a copy of the line; `end` is the terminator's.
std::size_t reference_next_word(std::string &line, std::size_t &cursor, char separator) {
    const std::size_t end = line.size() - 1;
    std::size_t p = cursor;
    while (p < end && line[p] == separator)
        ++p;
    const std::size_t word = p;
    while (p < end && line[p] != separator)
        ++p;
    if (p < end) {
        line[p++] = '\0';
        while (p < end && line[p] == separator)
            ++p;
    }
    cursor = p;
    return word;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const char separator = static_cast<char>(data[0]);
    const std::size_t length = strnlen(reinterpret_cast<const char *>(data + 1), size - 1);
    std::unique_ptr<char[]> line = exact_text(data + 1, length);
    std::string expected(line.get(), length + 1);

    char *cursor = line.get();
    std::size_t expected_cursor = 0;
    for (std::size_t words = 0; words <= length + 1; ++words) {
        const char *word = next_word(&cursor, separator);
        const std::size_t expected_word = reference_next_word(expected, expected_cursor, separator);
        fuzz_check(word == line.get() + expected_word, "the word starts elsewhere");
        fuzz_check(cursor == line.get() + expected_cursor, "the cursor stands elsewhere");
        fuzz_check(std::memcmp(line.get(), expected.data(), length + 1) == 0,
                   "the line was cut differently");
        if (*cursor == '\0')
            return 0;
    }
    fuzz_fail("the line was never used up");
}
