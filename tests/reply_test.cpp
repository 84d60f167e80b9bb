// The plug-in frame: the reply line and its length limit, dllinfo, the hooks, the heap.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "plugin/platform.h"
#include "plugin/reply.h"
#include "support.h"

using namespace lupex;

namespace {

// A host buffer of exactly `capacity` bytes with guard bytes behind it.
struct GuardedBuffer {
    static constexpr std::size_t guard = 32;
    std::vector<char> bytes;
    explicit GuardedBuffer(std::size_t capacity) : bytes(capacity + guard, '\x77') {
        bytes[0] = '\0';
    }
    char *data() { return bytes.data(); }
    bool guard_intact() const {
        for (std::size_t i = bytes.size() - guard; i < bytes.size(); ++i)
            if (bytes[i] != '\x77')
                return false;
        return true;
    }
};

} // namespace

TEST(Reply, SuccessLinesAreWholeOrRefused) {
    // A cut result would no longer decrypt, or no longer be the plain text: a result
    // that does not fit in 1,023 characters with "+OK " is refused instead.
    const std::string too_long = "-STRING String too long";
    struct Case {
        std::size_t result_length;
        bool whole;
    } cases[] = {{0, true}, {1, true}, {1018, true}, {1019, true}, {1020, false}, {5000, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.result_length);
        const std::string result(c.result_length, 'r');
        const std::string line = c.whole ? "+OK " + result : too_long;
        GuardedBuffer buffer(LUPEX_BUFFER_MIN);
        reply_ok(buffer.data(), result.c_str());
        EXPECT_EQ(std::string(buffer.data()), line);
        EXPECT_TRUE(buffer.guard_intact());

        // The form for results of known length writes the same line and returns its
        // length; it reads no further than that length.
        GuardedBuffer counted(LUPEX_BUFFER_MIN);
        const std::string unterminated = result + "x";
        EXPECT_EQ(reply_ok(counted.data(), unterminated.data(), c.result_length), line.size());
        EXPECT_EQ(std::string(counted.data()), line);
        EXPECT_TRUE(counted.guard_intact());
    }
}

TEST(Reply, FailureLinesAreCutTooAndNeverUsedAsAFormat) {
    GuardedBuffer buffer(LUPEX_BUFFER_MIN);
    reply_fail(buffer.data(), "KEY", "Invalid Key");
    EXPECT_STREQ(buffer.data(), "-KEY Invalid Key");
    reply_fail(buffer.data(), "%s%n", "%x %s");
    EXPECT_STREQ(buffer.data(), "-%s%n %x %s");
    // Conversions in a key and a text come back through the exports as bytes.
    const std::string cipher = call_export(blowfish, "encrypt %s%n %n%x %s %p");
    ASSERT_EQ(cipher.rfind("+OK ", 0), 0u) << cipher;
    EXPECT_EQ(call_export(blowfish, "decrypt %s%n " + cipher.substr(4)), "+OK %n%x %s %p");
    EXPECT_EQ(call_export(md5, "%s%n%x %p"), "+OK 307d51ba0582dd0c343c19bb4944eb45");
    const std::string message(2000, 'm');
    reply_fail(buffer.data(), "CODE", message.c_str());
    EXPECT_EQ(std::strlen(buffer.data()), 1023u);
    EXPECT_TRUE(buffer.guard_intact());
}

TEST(Dllinfo, SameReplyWhateverTheBufferHeld) {
    const std::string expected = call_export(dllinfo, "");
    EXPECT_EQ(expected.rfind("+OK lupex.dll 20720 ", 0), 0u) << expected;
    for (const std::string request : {std::string("x"), std::string("  blanks  "),
                                      std::string("encrypt key text"),
                                      std::string(1023, 'z'), std::string(5000, 'y')})
        EXPECT_EQ(call_export(dllinfo, request), expected);
}

TEST(Dllinfo, TouchesNothingBeyondTheBytesAHostGuarantees) {
    // dllinfo ignores what the buffer holds, so a host may pass 1,024 bytes with no
    // terminator among them. Behind them lies the host's own memory, here non-zero
    // bytes up to a zero byte.
    constexpr std::size_t behind = 64;
    std::vector<char> memory(LUPEX_BUFFER_MIN + behind + 1, '\x77');
    std::fill_n(memory.begin(), LUPEX_BUFFER_MIN, 'x');
    memory.back() = '\0';
    EXPECT_EQ(dllinfo(nullptr, nullptr, memory.data(), nullptr, 0, 0), LUPEX_PROC_RESULT);
    const std::string reply(memory.data());
    EXPECT_EQ(reply, call_export(dllinfo, ""));
    // The rest of the request is cleared, inside the 1,024 bytes only.
    for (std::size_t i = reply.size(); i < LUPEX_BUFFER_MIN; ++i)
        ASSERT_EQ(memory[i], '\0') << i;
    for (std::size_t i = LUPEX_BUFFER_MIN; i < LUPEX_BUFFER_MIN + behind; ++i)
        ASSERT_EQ(memory[i], '\x77') << "the host's byte at " << i << " changed";
}

TEST(Hooks, LoadDllDoesNothingAndUnloadDllAnswersOne) {
    // The host's load information, as bytes that must all stay as they were, and the
    // procedures answering alike before, between and after the hooks.
    const std::string before = call_export(blowfish, "encrypt k hooks");
    LoadDll(nullptr);
    std::vector<unsigned char> info(256, 0xa5);
    LoadDll(info.data());
    EXPECT_EQ(std::count(info.begin(), info.end(), 0xa5), 256);
    EXPECT_EQ(call_export(blowfish, "encrypt k hooks"), before);
    for (int reason : {0, 1, -1, 0x7fffffff})
        EXPECT_EQ(UnloadDll(reason), 1);
    EXPECT_EQ(call_export(blowfish, "encrypt k hooks"), before);
}

TEST(Heap, BlocksComeZeroedAndNullReleasesAreHarmless) {
    heap_release(nullptr);
    for (std::size_t size : {1u, 9u, 4096u, 100000u}) {
        auto *block = static_cast<unsigned char *>(heap_alloc_zeroed(size));
        ASSERT_NE(block, nullptr);
        for (std::size_t i = 0; i < size; ++i)
            ASSERT_EQ(block[i], 0) << i;
        std::memset(block, 0xab, size);
        heap_release(block);
    }
    EXPECT_EQ(heap_alloc_zeroed(SIZE_MAX), nullptr);
    EXPECT_EQ(heap_alloc_zeroed(SIZE_MAX - 8), nullptr);
}
