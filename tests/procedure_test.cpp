// The procedures through their exports: the request table, the word splitter, the
// length limit, allocation failure and concurrent calls.
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "cipher/blowfish_procedure.h"
#include "cipher/text_cipher.h"
#include "plugin/heap_hooks.h"
#include "plugin/platform.h"
#include "support.h"

#include "replies.inc"

using namespace lupex;

namespace {

lupex_procedure procedure_named(const std::string &name) {
    if (name == "blowfish")
        return blowfish;
    if (name == "md5")
        return md5;
    if (name == "dllinfo")
        return dllinfo;
    return nullptr;
}

} // namespace

TEST(ReplyTable, EveryRequestGetsItsExactReply) {
    auto rows = table_rows(replies_table);
    ASSERT_GT(rows.size(), 40u);
    for (const auto &row : rows) {
        ASSERT_EQ(row.size(), 3u) << row[0];
        lupex_procedure procedure = procedure_named(row[0]);
        ASSERT_NE(procedure, nullptr) << row[0];
        const std::string request = unescape(row[1]);
        EXPECT_EQ(call_export(procedure, request), unescape(row[2]))
            << row[0] << " '" << row[1] << "'";
    }
}

TEST(NextWord, SplitsInPlaceAndLeavesTheRemainder) {
    struct Case {
        const char *line;
        const char *word;
        const char *remainder;
        char separator = ' ';
    } cases[] = {
        {"", "", ""},
        {"   ", "", ""},
        {"one", "one", ""},
        {"one ", "one", ""},
        {"  one   two  three ", "one", "two  three "},
        {"\tone two", "\tone", "two"},
        {",,a,,b,", "a", "b,", ','},
        // The terminator is never skipped as a separator (found by the next_word fuzz
        // target: a separator of '\0' walked past the end of the line).
        {"", "", "", '\0'},
        {"one two", "one two", "", '\0'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("'") + c.line + "' separator " + std::to_string(c.separator));
        // Exactly the line and its terminator, so that AddressSanitizer sees any overrun.
        const std::size_t length = std::strlen(c.line);
        std::vector<char> line(c.line, c.line + length + 1);
        char *cursor = line.data();
        const char *word = next_word(&cursor, c.separator);
        ASSERT_LE(cursor, line.data() + length);
        EXPECT_STREQ(word, c.word);
        EXPECT_STREQ(cursor, c.remainder);
        EXPECT_EQ(*cursor == '\0', std::strlen(c.remainder) == 0);
    }
}

TEST(Blowfish, ResultsUpTo1019CharactersAreRepliedWholeLongerOnesRefused) {
    // Plain texts of n bytes and their cipher texts; text_encrypt itself has no limit.
    const std::string key = "boundary-key";
    const auto cipher_of = [&key](const std::string &text) {
        char *cipher = text_encrypt(key.c_str(), text.c_str());
        const std::string copy = cipher != nullptr ? cipher : "";
        heap_release(cipher);
        return copy;
    };
    struct Case {
        bool encrypt;
        std::size_t n;
        bool whole;
    } cases[] = {
        // 672 bytes give 1,008 characters; 673 would give 1,020.
        {true, 672, true},     {true, 673, false},    {true, 680, false},
        {true, 1000, false},   {true, 5000, false},   {false, 1018, true},
        {false, 1019, true},   {false, 1020, false},  {false, 1024, false},
        {false, 5000, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.encrypt ? "encrypt " : "decrypt ") + std::to_string(c.n));
        std::string text = random_text(c.n, static_cast<unsigned>(c.n));
        text[0] = 'x';
        const std::string cipher = cipher_of(text);
        ASSERT_EQ(cipher.size(), 12 * ((c.n + 7) / 8));
        const std::string reply = c.encrypt ? call_export(blowfish, "encrypt " + key + " " + text)
                                            : call_export(blowfish, "decrypt " + key + " " + cipher);
        if (c.whole)
            EXPECT_EQ(reply, "+OK " + (c.encrypt ? cipher : text));
        else
            EXPECT_EQ(reply, "-STRING String too long");
    }
}

TEST(Blowfish, PasswordsAgreeingInTheirFirst72BytesHashAlike) {
    const std::string first72 = random_text(72, 7, 33, 126);
    const std::string a = call_export(blowfish, "encpass " + first72 + "tail one");
    const std::string b = call_export(blowfish, "encpass " + first72 + "another tail");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.size(), 17u);
    EXPECT_NE(a, call_export(blowfish, "encpass " + first72.substr(0, 71) + "#"));
}

TEST(Procedures, NullBufferIsLeftAlone) {
    EXPECT_EQ(blowfish(nullptr, nullptr, nullptr, nullptr, 0, 0), LUPEX_PROC_RESULT);
    EXPECT_EQ(md5(nullptr, nullptr, nullptr, nullptr, 0, 0), LUPEX_PROC_RESULT);
    EXPECT_EQ(dllinfo(nullptr, nullptr, nullptr, nullptr, 0, 0), LUPEX_PROC_RESULT);
}

TEST(Procedures, NothingOfTheRequestStaysBehindTheReply) {
    struct Case {
        lupex_procedure procedure;
        const char *request;
    } cases[] = {
        {blowfish, "encpass a rather long password, longer than its hash"},
        {blowfish, "encrypt the-key"},
        {blowfish, "Encrypt the-key a text that is refused"},
        {blowfish, "decrypt the-key abcdefghijklmnopqrstuvwxyz0123456789"},
        {md5, "a text much longer than the thirty-six characters of the reply"},
        {dllinfo, "a request that is longer than the identification line, which is some "
                  "ninety characters long"},
    };
    for (const auto &c : cases) {
        const std::string request = c.request;
        std::vector<char> buffer(LUPEX_BUFFER_MIN, '\x33');
        std::memcpy(buffer.data(), request.c_str(), request.size() + 1);
        c.procedure(nullptr, nullptr, buffer.data(), nullptr, 0, 0);
        const std::size_t reply = std::strlen(buffer.data());
        for (std::size_t i = reply; i <= request.size(); ++i)
            ASSERT_EQ(buffer[i], '\0') << request << " at " << i;
        // Past the request's own extent the buffer is not touched.
        for (std::size_t i = std::max(reply, request.size()) + 1; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x33') << request << " at " << i;
    }
}

TEST(Procedures, BufferJustLargeEnoughForTheRequestAndAReply) {
    // The host contract: at least 1,024 bytes. Replies never need more.
    const std::string text(672, 'q');
    std::string reply = call_export(blowfish, "encrypt k " + text, LUPEX_BUFFER_MIN);
    EXPECT_EQ(reply.size(), 4 + 1008u);
}

TEST(Procedures, ConcurrentCallsGiveTheSameRepliesAsSequentialOnes) {
    std::vector<std::string> requests;
    for (int i = 0; i < 64; ++i) {
        const std::string text = random_text(1 + i * 9 % 600, i, 33, 255);
        requests.push_back("encrypt key" + std::to_string(i) + " " + text);
        requests.push_back("encpass password " + std::to_string(i));
    }
    std::vector<std::string> expected;
    for (const auto &r : requests)
        expected.push_back(call_export(blowfish, r));
    for (std::size_t i = 0, encrypted = requests.size(); i < encrypted; i += 2) {
        requests.push_back("decrypt key" + std::to_string(i / 2) + " " + expected[i].substr(4));
        expected.push_back(call_export(blowfish, requests.back()));
    }

    constexpr int thread_count = 8;
    std::vector<std::vector<std::string>> seen(thread_count);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round)
                for (std::size_t i = 0; i < requests.size(); ++i) {
                    const std::size_t k = (i + static_cast<std::size_t>(t) * 17) % requests.size();
                    std::vector<char> buffer(LUPEX_BUFFER_MIN + requests[k].size());
                    std::memcpy(buffer.data(), requests[k].c_str(), requests[k].size() + 1);
                    blowfish(nullptr, nullptr, buffer.data(), nullptr, 0, 0);
                    if (buffer.data() != expected[k])
                        seen[t].push_back(requests[k]);
                }
        });
    for (auto &thread : threads)
        thread.join();
    for (int t = 0; t < thread_count; ++t)
        EXPECT_TRUE(seen[t].empty()) << "thread " << t << " got a different reply for "
                                     << seen[t].size() << " requests";
}

#ifndef _WIN32
// The POSIX heap's test seam lets every allocation of a call fail in turn, until the
// call makes no more allocations than the one that fails and replies as usual.
TEST(Procedures, FailedAllocationRepliesOutOfMemoryAndLeavesNothing) {
    const std::string requests[] = {"encrypt key some text", "decrypt key abcdefghijklm"};
    for (const auto &request : requests) {
        const std::string reply = call_export(blowfish, request);
        ASSERT_EQ(reply.substr(0, 4), "+OK ");
        long n = 0;
        for (;; ++n) {
            SCOPED_TRACE(request + " failing allocation " + std::to_string(n));
            const long live = heap_hooks_live_blocks();
            heap_hooks_fail_allocation(n);
            const std::string failed = call_export(blowfish, request);
            heap_hooks_fail_allocation(-1);
            EXPECT_EQ(heap_hooks_live_blocks(), live);
            if (failed != "-MEMORY Out of memory") {
                EXPECT_EQ(failed, reply);
                break;
            }
        }
        EXPECT_GE(n, 1) << request << ": no allocation to fail";
    }
    // Every other call allocates nothing and cannot fail.
    heap_hooks_fail_allocation(0);
    EXPECT_EQ(call_export(blowfish, "encpass pw").substr(0, 5), "+OK +");
    EXPECT_EQ(call_export(md5, "abc").substr(0, 4), "+OK ");
    heap_hooks_fail_allocation(-1);
}
#endif
