// What a call leaves in the stack memory it used. The stack below a caller's frame is
// painted, the export is called from that same frame, and the painted region is read
// back: no 4-byte group of a key, password, plain text or digested text, in either
// byte order (the cipher loads its halves most significant byte first), and no word of
// the keyed BoxSet may be found there. A second test runs each export's work alone in
// the same way and holds the depth it reaches within what the export clears after it,
// printing both figures.
#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "cipher/blowfish.h"
#include "cipher/blowfish_procedure.h"
#include "digest/md5_procedure.h"
#include "support.h"

#if defined(__has_include)
#if __has_include(<valgrind/memcheck.h>)
#include <valgrind/memcheck.h>
#endif
#endif
#ifndef VALGRIND_MAKE_MEM_DEFINED
#define VALGRIND_MAKE_MEM_DEFINED(address, bytes) ((void)(address), (void)(bytes))
#endif

// AddressSanitizer moves locals into frames of its own on the heap, and both
// sanitizers give the library frames other than those of the Release build, for which
// the clear sizes are measured: there the test has nothing to look at.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LUPEX_STACK_UNSANITIZED 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LUPEX_STACK_UNSANITIZED 0
#endif
#endif
#ifndef LUPEX_STACK_UNSANITIZED
#define LUPEX_STACK_UNSANITIZED 1
#endif

namespace {

constexpr std::size_t region_bytes = 32 * 1024;
constexpr unsigned char paint = 0xa5;

// One frame both paints the region and reads it back, so both see the same bytes: the
// region just below the frame of the function that calls it. Reading it back reads
// what later frames left there; valgrind is told that this is meant.
[[gnu::noinline]] void stack_region(unsigned char *copy) {
    volatile unsigned char region[region_bytes];
    if (copy == nullptr) {
        for (std::size_t i = 0; i < region_bytes; ++i)
            region[i] = paint;
    } else {
        VALGRIND_MAKE_MEM_DEFINED(const_cast<unsigned char *>(region), region_bytes);
        for (std::size_t i = 0; i < region_bytes; ++i)
            copy[i] = region[i];
    }
}

// Paints, calls `procedure` from the same frame, and copies the region to `copy`
// (index 0 is the deepest byte).
[[gnu::noinline]] void call_on_painted_stack(lupex_procedure procedure, char *buffer,
                                             unsigned char *copy) {
    stack_region(nullptr);
    procedure(nullptr, nullptr, buffer, nullptr, 0, 0);
    stack_region(copy);
}

// The same for the work behind an export, called directly.
[[gnu::noinline]] void run_on_painted_stack(void (*work)(char *), char *buffer,
                                            unsigned char *copy) {
    stack_region(nullptr);
    work(buffer);
    stack_region(copy);
}

// How far below the caller the paint was overwritten.
std::size_t depth_used(const unsigned char *region) {
    std::size_t i = 0;
    while (i < region_bytes && region[i] == paint)
        ++i;
    return region_bytes - i;
}

// 4-byte values that must not be found, with what each one comes from.
struct Secrets {
    std::unordered_map<std::uint32_t, std::string> groups; // at any offset
    std::unordered_map<std::uint32_t, std::string> words;  // at offsets of whole words

    void add_text(const std::string &what, const std::string &text) {
        for (std::size_t i = 0; i + 4 <= text.size(); ++i) {
            std::uint32_t group;
            std::memcpy(&group, text.data() + i, 4);
            const std::uint32_t swapped = (group >> 24) | (group >> 8 & 0xff00) |
                                          (group << 8 & 0xff0000) | (group << 24);
            groups.emplace(group, what + " at " + std::to_string(i));
            groups.emplace(swapped, what + " at " + std::to_string(i) + ", swapped");
        }
    }

    void add_boxes(const std::string &key) {
        auto boxes = std::make_unique<BoxSet>();
        box_setup(boxes.get(), reinterpret_cast<const unsigned char *>(key.data()), key.size());
        const auto *word = reinterpret_cast<const std::uint32_t *>(boxes.get());
        for (std::size_t i = 0; i < sizeof(BoxSet) / 4; ++i)
            words.emplace(word[i], "BoxSet word " + std::to_string(i));
    }

    // What of the secrets `region` holds, deepest first; empty when nothing.
    std::string found_in(const unsigned char *region) const {
        std::string found;
        int count = 0;
        for (std::size_t i = 0; i + 4 <= region_bytes; ++i) {
            std::uint32_t value;
            std::memcpy(&value, region + i, 4);
            auto group = groups.find(value);
            auto word = i % 4 == 0 ? words.find(value) : words.end();
            const std::string *what = group != groups.end() ? &group->second
                                      : word != words.end() ? &word->second
                                                            : nullptr;
            if (what != nullptr && ++count <= 8)
                found += "\n  " + *what + ", " + std::to_string(region_bytes - i) +
                         " bytes below the caller";
        }
        if (count > 8)
            found += "\n  and " + std::to_string(count - 8) + " more";
        return found;
    }
};

} // namespace

TEST(Stack, NothingSecretStaysInTheStackACallUsed) {
    if (!LUPEX_STACK_UNSANITIZED)
        GTEST_SKIP() << "frames differ under sanitizers";
    const std::string key = "Stack-Key:q7Wz!";
    // Bytes never equal to the paint or zero, blanks inside.
    const auto text_of = [](std::size_t n, unsigned seed) {
        std::string text = random_text(n, seed, 0x21, 0x7e);
        for (std::size_t i = 5; i < n; i += 9)
            text[i] = ' ';
        return text;
    };
    const auto cipher_of = [&](const std::string &text) {
        const std::string reply = call_export(blowfish, "encrypt " + key + " " + text);
        return reply.substr(4);
    };
    struct Case {
        std::string name;
        lupex_procedure procedure;
        std::string request;
        std::string key;  // keys the BoxSet that must not be found
        std::vector<std::pair<std::string, std::string>> texts;
    };
    const std::string short_text = text_of(5, 1), long_text = text_of(100, 2);
    const std::string password = "a pass phrase, 28 bytes long";
    const std::string md5_short = text_of(3, 3), md5_long = text_of(300, 4);
    const Case cases[] = {
        {"encrypt 5", blowfish, "encrypt " + key + " " + short_text, key,
         {{"key", key}, {"plain text", short_text}}},
        {"encrypt 100", blowfish, "encrypt " + key + " " + long_text, key,
         {{"key", key}, {"plain text", long_text}}},
        {"decrypt 5", blowfish, "decrypt " + key + " " + cipher_of(short_text), key,
         {{"key", key}, {"plain text", short_text}}},
        {"decrypt 100", blowfish, "decrypt " + key + " " + cipher_of(long_text), key,
         {{"key", key}, {"plain text", long_text}}},
        {"encpass", blowfish, "encpass " + password, password, {{"password", password}}},
        {"md5 3", md5, md5_short, "", {{"digested text", md5_short}}},
        {"md5 300", md5, md5_long, "", {{"digested text", md5_long}}},
    };
    std::vector<unsigned char> region(region_bytes);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Secrets secrets;
        for (const auto &text : c.texts)
            secrets.add_text(text.first, text.second);
        if (!c.key.empty())
            secrets.add_boxes(c.key);
        std::vector<char> buffer(LUPEX_BUFFER_MIN);
        std::memcpy(buffer.data(), c.request.c_str(), c.request.size() + 1);
        call_on_painted_stack(c.procedure, buffer.data(), region.data());
        ASSERT_EQ(buffer.data()[0], '+') << buffer.data();
        // The paint must still be there deep down, or the region was too small to tell.
        ASSERT_EQ(region[0], paint);
        EXPECT_EQ(secrets.found_in(region.data()), "");
    }
}

TEST(Stack, ClearCoversWhatTheWorkUses) {
    if (!LUPEX_STACK_UNSANITIZED)
        GTEST_SKIP() << "frames differ under sanitizers";
    const std::string cipher_text(1536, 'z'), long_text(672, 't');
    struct Case {
        const char *name;
        void (*work)(char *);
        std::size_t cleared;
        std::vector<std::string> requests;
    } cases[] = {
        {"blowfish", blowfish_request, blowfish_stack_bytes,
         {"", "Encrypt k t", "encrypt", "encrypt k", "encpass", "encrypt k t",
          "encrypt k " + long_text, "encrypt k " + long_text + "t", "decrypt k zzzzz",
          "decrypt k " + cipher_text, "decrypt k " + std::string(300000, 'z'),
          "encpass a password"}},
        {"md5", md5_request, md5_stack_bytes,
         {"", "abc", std::string(300, 'm'), std::string(1 << 20, 'm')}},
    };
    std::vector<unsigned char> region(region_bytes);
    for (const auto &c : cases) {
        std::size_t deepest = 0;
        for (const auto &request : c.requests) {
            std::vector<char> buffer(std::max<std::size_t>(LUPEX_BUFFER_MIN, request.size() + 1));
            std::memcpy(buffer.data(), request.c_str(), request.size() + 1);
            // Once unmeasured: a first call through a lazily bound entry of the test
            // program runs the dynamic linker's resolver below it, which the shipped
            // library, bound when it is loaded, never does during a call.
            c.work(buffer.data());
            std::memcpy(buffer.data(), request.c_str(), request.size() + 1);
            run_on_painted_stack(c.work, buffer.data(), region.data());
            ASSERT_EQ(region[0], paint) << c.name << " went deeper than the region";
            deepest = std::max(deepest, depth_used(region.data()));
        }
        std::printf("%s: the work goes %zu bytes deep; the export clears %zu\n", c.name, deepest,
                    c.cleared);
        EXPECT_LE(deepest, c.cleared) << c.name;
    }
}
