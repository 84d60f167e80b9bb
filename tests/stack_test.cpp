// What a call leaves in the stack memory it used. The stack below a caller's frame is
// painted, the export or C API function is called from that same frame, and the
// painted region is read back: no 4-byte group of a key, password, plain text or
// digested text, in either byte order (the cipher loads its halves most significant
// byte first), and no word of the keyed BoxSet (or of the prepared key) may be found
// there. A second test runs the work behind each export and each C API function alone
// in the same way and holds the depth it reaches within what the function clears after
// it, printing both figures. A third calls everything from a thread with a small stack,
// which the clear below each call must not run off.
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
#include "cipher/text_cipher.h"
#include "digest/digest.h"
#include "plugin/stack_clear.h"
#include "support.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <climits>
#include <pthread.h>
#endif

using namespace lupex;

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

// After the reading call: keeps it from becoming a sibling call, which would read from
// the caller's caller's frame, above the region that was painted.
[[gnu::always_inline]] inline void read_from_this_frame() { __asm__ __volatile__("" : : : "memory"); }

// Paints, calls `call` with `argument` from the same frame, and copies the region to
// `copy` (index 0 is the deepest byte). `call` is an export called with `argument` as
// its buffer, or the work behind one; or a function that calls one C API function, or
// the work behind one, with what `argument` points to (its frame stands for the C API
// function's own).
// Makes the call in a frame of its own. On 32-bit x86 a call through a pointer pushes
// its argument, and the caller may leave it there until it pops several at once: the
// region read back by the next stack_region call would then lie 16 bytes below the one
// painted. Here the push is popped when this frame returns.
template <class Argument>
[[gnu::noinline]] void call_in_own_frame(void (*call)(Argument *), Argument *argument) {
    call(argument);
}

template <class Argument>
[[gnu::noinline]] void call_on_painted_stack(void (*call)(Argument *), Argument *argument,
                                             unsigned char *copy) {
    stack_region(nullptr);
    call_in_own_frame(call, argument);
    stack_region(copy);
    read_from_this_frame();
}

[[gnu::noinline]] void call_on_painted_stack(lupex_procedure procedure, char *buffer,
                                             unsigned char *copy) {
    stack_region(nullptr);
    procedure(nullptr, nullptr, buffer, nullptr, 0, 0);
    stack_region(copy);
    read_from_this_frame();
}

// What a C API call works on: the key, or the prepared key, the input, the output.
struct ApiCall {
    std::string key, input;
    const lupex_key *prepared;
    lupex_key *setup;
    std::vector<char> out;
    int result;
};

const unsigned char *bytes_of(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
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
        for (std::size_t i = 0; i < sizeof boxes->words / 4; ++i)
            words.emplace(boxes->words[i], "BoxSet word " + std::to_string(i));
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

// Bytes never equal to the paint or zero, blanks inside.
std::string secret_text(std::size_t n, unsigned seed) {
    std::string text = random_text(n, seed, 0x21, 0x7e);
    for (std::size_t i = 5; i < n; i += 9)
        text[i] = ' ';
    return text;
}

// The C API functions, and the work behind each, called the way the function calls it.
void api_encrypt(ApiCall *c) {
    c->result = lupex_encrypt(c->key.data(), c->key.size(), c->input.data(), c->input.size(),
                              c->out.data(), c->out.size(), nullptr);
}
void api_decrypt(ApiCall *c) {
    c->result = lupex_decrypt(c->key.data(), c->key.size(), c->input.data(), c->input.size(),
                              c->out.data(), c->out.size(), nullptr);
}
void api_encpass(ApiCall *c) {
    c->result = lupex_encpass(c->input.data(), c->input.size(), c->out.data());
}
void api_md5(ApiCall *c) {
    c->result = lupex_md5(c->input.data(), c->input.size(), c->out.data());
}
void api_key_setup(ApiCall *c) { c->result = lupex_key_setup(c->setup, c->key.data(), c->key.size()); }
void api_encrypt_with(ApiCall *c) {
    c->result = lupex_encrypt_with(c->prepared, c->input.data(), c->input.size(), c->out.data(),
                                   c->out.size(), nullptr);
}
void api_decrypt_with(ApiCall *c) {
    c->result = lupex_decrypt_with(c->prepared, c->input.data(), c->input.size(), c->out.data(),
                                   c->out.size(), nullptr);
}

void api_encrypt_cbc(ApiCall *c) {
    c->result = lupex_encrypt_cbc(c->key.data(), c->key.size(), c->input.data(), c->input.size(),
                                  c->out.data(), c->out.size(), nullptr);
}
void api_decrypt_cbc(ApiCall *c) {
    c->result = lupex_decrypt_cbc(c->key.data(), c->key.size(), c->input.data(), c->input.size(),
                                  c->out.data(), c->out.size(), nullptr);
}
void api_encrypt_cbc_with(ApiCall *c) {
    c->result = lupex_encrypt_cbc_with(c->prepared, c->input.data(), c->input.size(),
                                       c->out.data(), c->out.size(), nullptr);
}
void api_decrypt_cbc_with(ApiCall *c) {
    c->result = lupex_decrypt_cbc_with(c->prepared, c->input.data(), c->input.size(),
                                       c->out.data(), c->out.size(), nullptr);
}

// The work behind each C API function, which only the tests that link the library's
// objects reach: a build that calls the C API through liblupex-2.dll
// (LUPEX_TESTS_THROUGH_DLL) has the functions alone.
#ifndef LUPEX_TESTS_THROUGH_DLL

// The CBC work with a fixed IV: the calls draw theirs before any of it starts.
const unsigned char work_iv[cbc_iv_bytes] = {1, 2, 3, 4, 5, 6, 7, 8};
CbcText parsed_or_empty(const std::string &cipher) {
    CbcText text{};
    if (!cbc_parse(cipher.data(), cipher.size(), &text))
        ADD_FAILURE() << "not a CBC cipher text: " << cipher;
    return text;
}
void work_encrypt_cbc(ApiCall *c) {
    encrypt_cbc_text(bytes_of(c->key), c->key.size(), work_iv, bytes_of(c->input),
                     c->input.size(), c->out.data());
}
void work_decrypt_cbc(ApiCall *c) {
    const CbcText text = parsed_or_empty(c->input);
    decrypt_cbc_text(bytes_of(c->key), c->key.size(), text, text.blocks,
                     reinterpret_cast<unsigned char *>(c->out.data()));
}
void work_encrypt_cbc_with(ApiCall *c) {
    encrypt_cbc_text(&c->prepared->lupex_private_schedule, work_iv, bytes_of(c->input),
                     c->input.size(), c->out.data());
}
void work_decrypt_cbc_with(ApiCall *c) {
    const CbcText text = parsed_or_empty(c->input);
    decrypt_cbc_text(&c->prepared->lupex_private_schedule, text, text.blocks,
                     reinterpret_cast<unsigned char *>(c->out.data()));
}

void work_encrypt(ApiCall *c) {
    encrypt_text(bytes_of(c->key), c->key.size(), bytes_of(c->input), c->input.size(),
                 c->out.data());
}
void work_decrypt(ApiCall *c) {
    decrypt_text(bytes_of(c->key), c->key.size(), c->input.data(), c->input.size(),
                 reinterpret_cast<unsigned char *>(c->out.data()));
}
void work_encpass(ApiCall *c) { pass_hash(bytes_of(c->input), c->input.size(), c->out.data()); }
void work_md5(ApiCall *c) { md5_digits(c->input.data(), c->input.size(), c->out.data()); }
void work_key_setup(ApiCall *c) {
    box_setup(&c->setup->lupex_private_schedule, bytes_of(c->key), c->key.size());
}
void work_encrypt_with(ApiCall *c) {
    encrypt_text(&c->prepared->lupex_private_schedule, bytes_of(c->input), c->input.size(),
                 c->out.data());
}
void work_decrypt_with(ApiCall *c) {
    decrypt_text(&c->prepared->lupex_private_schedule, c->input.data(), c->input.size(),
                 reinterpret_cast<unsigned char *>(c->out.data()));
}
#endif

// A valid CBC cipher text, without its marker, of IV and `blocks` blocks.
std::string cbc_text_of_blocks(std::size_t blocks) {
    const std::vector<unsigned char> bytes(8 * (blocks + 1), 0x7a);
    std::string text(base64_length(bytes.size()), '\0');
    base64_encode(bytes.data(), bytes.size(), &text[0]);
    return text;
}

// Output room for any of the calls on `input`.
std::vector<char> out_for(const std::string &input) {
    const std::size_t n = input.size();
    return std::vector<char>(std::max({std::size_t{64}, lupex_encrypt_capacity(n),
                                       lupex_encrypt_cbc_capacity(n), lupex_decrypt_capacity(n),
                                       lupex_decrypt_cbc_capacity(n)}));
}

} // namespace

TEST(Stack, NothingSecretStaysInTheStackACallUsed) {
    if (!LUPEX_STACK_UNSANITIZED)
        GTEST_SKIP() << "frames differ under sanitizers";
    const std::string key = "Stack-Key:q7Wz!";
    const auto cipher_of = [&](const std::string &text) {
        const std::string reply = call_export(blowfish, "encrypt " + key + " " + text);
        return reply.substr(4);
    };
    const auto cbc_cipher_of = [&](const std::string &text) {
        return call_export(blowfish, "encrypt-cbc " + key + " " + text).substr(4);
    };
    struct Case {
        std::string name;
        lupex_procedure procedure;
        std::string request;
        std::string key;  // keys the BoxSet that must not be found
        std::vector<std::pair<std::string, std::string>> texts;
    };
    const std::string short_text = secret_text(5, 1), long_text = secret_text(100, 2);
    const std::string password = "a pass phrase, 28 bytes long";
    const std::string md5_short = secret_text(3, 3), md5_long = secret_text(300, 4);
    const Case cases[] = {
        {"encrypt 5", blowfish, "encrypt " + key + " " + short_text, key,
         {{"key", key}, {"plain text", short_text}}},
        {"encrypt 100", blowfish, "encrypt " + key + " " + long_text, key,
         {{"key", key}, {"plain text", long_text}}},
        {"decrypt 5", blowfish, "decrypt " + key + " " + cipher_of(short_text), key,
         {{"key", key}, {"plain text", short_text}}},
        {"decrypt 100", blowfish, "decrypt " + key + " " + cipher_of(long_text), key,
         {{"key", key}, {"plain text", long_text}}},
        {"encrypt-cbc 5", blowfish, "encrypt-cbc " + key + " " + short_text, key,
         {{"key", key}, {"plain text", short_text}}},
        {"encrypt-cbc 100", blowfish, "encrypt-cbc " + key + " " + long_text, key,
         {{"key", key}, {"plain text", long_text}}},
        {"decrypt-cbc 100", blowfish, "decrypt-cbc " + key + " " + cbc_cipher_of(long_text), key,
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

TEST(Stack, NothingSecretStaysInTheStackACApiCallUsed) {
    if (!LUPEX_STACK_UNSANITIZED)
        GTEST_SKIP() << "frames differ under sanitizers";
    // Blanks and a zero byte in the key, which the C API takes.
    const std::string key("Api key\0q7Wz!", 13);
    auto prepared = std::make_unique<lupex_key>(), setup = std::make_unique<lupex_key>();
    ASSERT_EQ(lupex_key_setup(prepared.get(), key.data(), key.size()), LUPEX_OK);
    const auto cipher_of = [&](const std::string &text) {
        std::vector<char> out = out_for(text);
        std::size_t n = 0;
        EXPECT_EQ(lupex_encrypt(key.data(), key.size(), text.data(), text.size(), out.data(),
                                out.size(), &n),
                  LUPEX_OK);
        return std::string(out.data(), n);
    };
    const auto cbc_cipher_of = [&](const std::string &text) {
        std::vector<char> out = out_for(text);
        std::size_t n = 0;
        EXPECT_EQ(lupex_encrypt_cbc(key.data(), key.size(), text.data(), text.size(), out.data(),
                                    out.size(), &n),
                  LUPEX_OK);
        return std::string(out.data(), n);
    };
    struct Case {
        std::string name;
        void (*call)(ApiCall *);
        std::string input;
        std::string boxes_key; // keys the BoxSet that must not be found
        std::vector<std::pair<std::string, std::string>> texts;
    };
    const std::string short_text = secret_text(5, 11), long_text = secret_text(100, 12);
    const std::string password = "a pass phrase, 28 bytes long";
    const std::string digested = secret_text(300, 13);
    const Case cases[] = {
        {"lupex_encrypt 5", api_encrypt, short_text, key, {{"key", key}, {"plain text", short_text}}},
        {"lupex_encrypt 100", api_encrypt, long_text, key, {{"key", key}, {"plain text", long_text}}},
        {"lupex_decrypt 100", api_decrypt, cipher_of(long_text), key,
         {{"key", key}, {"plain text", long_text}}},
        {"lupex_encpass", api_encpass, password, password, {{"password", password}}},
        {"lupex_md5 300", api_md5, digested, "", {{"digested text", digested}}},
        {"lupex_key_setup", api_key_setup, "", key, {{"key", key}}},
        {"lupex_encrypt_with 5", api_encrypt_with, short_text, key, {{"plain text", short_text}}},
        {"lupex_encrypt_with 100", api_encrypt_with, long_text, key, {{"plain text", long_text}}},
        {"lupex_decrypt_with 100", api_decrypt_with, cipher_of(long_text), key,
         {{"plain text", long_text}}},
        {"lupex_encrypt_cbc 5", api_encrypt_cbc, short_text, key,
         {{"key", key}, {"plain text", short_text}}},
        {"lupex_encrypt_cbc 100", api_encrypt_cbc, long_text, key,
         {{"key", key}, {"plain text", long_text}}},
        {"lupex_decrypt_cbc 100", api_decrypt_cbc, cbc_cipher_of(long_text), key,
         {{"key", key}, {"plain text", long_text}}},
        {"lupex_encrypt_cbc_with 100", api_encrypt_cbc_with, long_text, key,
         {{"plain text", long_text}}},
        {"lupex_decrypt_cbc_with 100", api_decrypt_cbc_with, cbc_cipher_of(long_text), key,
         {{"plain text", long_text}}},
    };
    std::vector<unsigned char> region(region_bytes);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Secrets secrets;
        for (const auto &text : c.texts)
            secrets.add_text(text.first, text.second);
        if (!c.boxes_key.empty())
            secrets.add_boxes(c.boxes_key);
        ApiCall call{key, c.input, prepared.get(), setup.get(), out_for(c.input), -99};
        call_on_painted_stack(c.call, &call, region.data());
        ASSERT_EQ(call.result, LUPEX_OK);
        ASSERT_EQ(region[0], paint);
        EXPECT_EQ(secrets.found_in(region.data()), "");
    }
    lupex_key_wipe(prepared.get());
    lupex_key_wipe(setup.get());
}

#ifndef LUPEX_TESTS_THROUGH_DLL
TEST(Stack, ClearCoversWhatTheWorkUses) {
    if (!LUPEX_STACK_UNSANITIZED)
        GTEST_SKIP() << "frames differ under sanitizers";
    std::vector<unsigned char> region(region_bytes);
    // The deepest that `work` reaches over its inputs. Each is run once unmeasured
    // first: a first call through a lazily bound entry of the test program runs the
    // dynamic linker's resolver below it, which the shipped library, bound when it is
    // loaded, never does during a call.
    const auto deepest = [&](auto work, const auto &arguments, auto prepare) {
        std::size_t depth = 0;
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            prepare(i);
            work(arguments[i]);
            prepare(i);
            call_on_painted_stack(work, arguments[i], region.data());
            EXPECT_EQ(region[0], paint) << "went deeper than the region";
            depth = std::max(depth, depth_used(region.data()));
        }
        return depth;
    };
    const auto report = [](const char *name, std::size_t depth, std::size_t cleared) {
        std::printf("%s: the work goes %zu bytes deep; the function clears %zu\n", name, depth,
                    cleared);
        EXPECT_LE(depth, cleared) << name;
    };

    const std::string cipher_text(1536, 'z'), long_text(672, 't');
    struct Procedure {
        const char *name;
        void (*work)(char *);
        std::size_t cleared;
        std::vector<std::string> requests;
    } procedures[] = {
        {"blowfish", blowfish_request, blowfish_stack_bytes,
         {"", "Encrypt k t", "encrypt", "encrypt k", "encpass", "encrypt k t",
          "encrypt k " + long_text, "encrypt k " + long_text + "t", "decrypt k zzzzz",
          "decrypt k " + cipher_text, "decrypt k " + std::string(300000, 'z'),
          "encpass a password", "encrypt-cbc k t", "encrypt-cbc k " + std::string(752, 't'),
          "encrypt-cbc k " + std::string(753, 't'), "decrypt-cbc k zzz",
          "decrypt-cbc k " + cbc_text_of_blocks(13), "decrypt-cbc k " + cbc_text_of_blocks(130),
          "decrypt-cbc k " + std::string(300000, 'z')}},
        {"md5", md5_request, md5_stack_bytes,
         {"", "abc", std::string(300, 'm'), std::string(1 << 20, 'm')}},
    };
    for (const auto &p : procedures) {
        std::vector<std::vector<char>> buffers;
        std::vector<char *> arguments;
        for (const auto &request : p.requests) {
            buffers.emplace_back(std::max<std::size_t>(LUPEX_BUFFER_MIN, request.size() + 1));
            arguments.push_back(buffers.back().data());
        }
        const auto refill = [&](std::size_t i) {
            std::memcpy(arguments[i], p.requests[i].c_str(), p.requests[i].size() + 1);
        };
        report(p.name, deepest(p.work, arguments, refill), p.cleared);
    }

    auto prepared = std::make_unique<lupex_key>(), setup = std::make_unique<lupex_key>();
    ASSERT_EQ(lupex_key_setup(prepared.get(), "k", 1), LUPEX_OK);
    // Every number of blocks left beside groups of four, and long texts.
    std::vector<std::string> texts, ciphers;
    for (std::size_t n : {1u, 8u, 9u, 17u, 25u, 31u, 32u, 33u, 100u, 672u, 100000u}) {
        texts.push_back(std::string(n, 't'));
        ciphers.push_back(std::string(12 * ((n + 7) / 8), 'z'));
    }
    ciphers.push_back("zzzzz");
    // CBC cipher texts of 1 to 100,001 blocks after the IV: every number of blocks left
    // beside groups of four, within a decoding step and across several.
    std::vector<std::string> cbc_ciphers;
    for (std::size_t blocks : {1u, 2u, 3u, 4u, 5u, 11u, 12u, 13u, 100u, 100001u})
        cbc_ciphers.push_back(cbc_text_of_blocks(blocks));
    struct Api {
        const char *name;
        void (*work)(ApiCall *);
        std::size_t cleared;
        const std::vector<std::string> &inputs;
    };
    const std::vector<std::string> keys = {"k", std::string(100, 'k')};
    const std::vector<std::string> md5_inputs = {"", "abc", std::string(300, 'm'),
                                                 std::string(1 << 20, 'm')};
    const Api api[] = {
        {"lupex_encrypt", work_encrypt, keyed_stack_bytes, texts},
        {"lupex_decrypt", work_decrypt, keyed_stack_bytes, ciphers},
        {"lupex_encpass", work_encpass, keyed_stack_bytes, keys},
        {"lupex_md5", work_md5, md5_stack_bytes, md5_inputs},
        {"lupex_key_setup", work_key_setup, prepared_stack_bytes, keys},
        {"lupex_encrypt_with", work_encrypt_with, prepared_stack_bytes, texts},
        {"lupex_decrypt_with", work_decrypt_with, prepared_stack_bytes, ciphers},
        {"lupex_encrypt_cbc", work_encrypt_cbc, keyed_stack_bytes, texts},
        {"lupex_decrypt_cbc", work_decrypt_cbc, keyed_stack_bytes, cbc_ciphers},
        {"lupex_encrypt_cbc_with", work_encrypt_cbc_with, cbc_prepared_stack_bytes, texts},
        {"lupex_decrypt_cbc_with", work_decrypt_cbc_with, cbc_prepared_stack_bytes, cbc_ciphers},
    };
    for (const auto &a : api) {
        std::vector<ApiCall> calls;
        for (const auto &input : a.inputs)
            calls.push_back({input, input, prepared.get(), setup.get(), out_for(input), 0});
        std::vector<ApiCall *> arguments;
        for (auto &call : calls)
            arguments.push_back(&call);
        report(a.name, deepest(a.work, arguments, [](std::size_t) {}), a.cleared);
    }
    lupex_key_wipe(prepared.get());
    lupex_key_wipe(setup.get());
}
#endif

namespace {

// Every export and C API call that clears the stack behind it, each reply or output as
// one line.
std::vector<std::string> calls_that_clear() {
    std::vector<std::string> replies;
    // The buffer contract: LUPEX_BUFFER_MIN bytes, and the request with its terminator
    // (the decrypt request of the longest text is longer).
    const auto request = [&](lupex_procedure procedure, const std::string &text) {
        std::vector<char> buffer(std::max<std::size_t>(LUPEX_BUFFER_MIN, text.size() + 1));
        std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
        procedure(nullptr, nullptr, buffer.data(), nullptr, 0, 0);
        replies.emplace_back(buffer.data());
    };
    const std::string long_text(672, 't');
    request(blowfish, "encrypt small-stack " + long_text);
    request(blowfish, "decrypt small-stack " + replies.back().substr(4));
    request(blowfish, "encpass small-stack");
    request(blowfish, "decrypt-cbc small-stack " +
                          call_export(blowfish, "encrypt-cbc small-stack " + long_text).substr(4));
    request(md5, long_text);
    request(dllinfo, "");

    const std::string key = "small-stack";
    std::vector<char> out(lupex_encrypt_capacity(long_text.size()));
    const auto output = [&](int result) {
        replies.push_back(std::to_string(result) + " " + out.data());
    };
    output(lupex_encrypt(key.data(), key.size(), long_text.data(), long_text.size(), out.data(),
                         out.size(), nullptr));
    const std::string cipher = out.data();
    output(lupex_decrypt(key.data(), key.size(), cipher.data(), cipher.size(), out.data(),
                         out.size(), nullptr));
    output(lupex_encpass(key.data(), key.size(), out.data()));
    output(lupex_md5(long_text.data(), long_text.size(), out.data()));
    lupex_key prepared;
    replies.push_back(std::to_string(lupex_key_setup(&prepared, key.data(), key.size())));
    output(lupex_encrypt_with(&prepared, long_text.data(), long_text.size(), out.data(),
                              out.size(), nullptr));
    output(lupex_decrypt_with(&prepared, cipher.data(), cipher.size(), out.data(), out.size(),
                              nullptr));
    // The CBC calls draw a new IV each time: their round trips are the same lines.
    std::vector<char> cbc(lupex_encrypt_cbc_capacity(long_text.size()));
    std::size_t n = 0;
    if (lupex_encrypt_cbc(key.data(), key.size(), long_text.data(), long_text.size(), cbc.data(),
                          cbc.size(), &n) == LUPEX_OK)
        output(lupex_decrypt_cbc_with(&prepared, cbc.data(), n, out.data(), out.size(), nullptr));
    if (lupex_encrypt_cbc_with(&prepared, long_text.data(), long_text.size(), cbc.data(),
                               cbc.size(), &n) == LUPEX_OK)
        output(lupex_decrypt_cbc(key.data(), key.size(), cbc.data(), n, out.data(), out.size(),
                                 nullptr));
    lupex_key_wipe(&prepared);
    return replies;
}

constexpr std::size_t small_stack_bytes = 64 * 1024;

#if defined(_WIN32)
DWORD WINAPI run_calls(LPVOID replies) {
    *static_cast<std::vector<std::string> *>(replies) = calls_that_clear();
    return 0;
}

// A new thread's stack is committed a page at a time behind a guard page: the clear
// must touch its pages from the top down, as the work's own frames do.
bool calls_on_small_stack(std::vector<std::string> &replies) {
    HANDLE thread = CreateThread(nullptr, small_stack_bytes, run_calls, &replies,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr)
        return false;
    DWORD code = 1;
    const bool ended = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeThread(thread, &code) && code == 0;
    CloseHandle(thread);
    return ended;
}
#else
void *run_calls(void *replies) {
    *static_cast<std::vector<std::string> *>(replies) = calls_that_clear();
    return nullptr;
}

// The least a thread may have where that is more (128 KiB on 64-bit ARM).
bool calls_on_small_stack(std::vector<std::string> &replies) {
    const std::size_t bytes = std::max<std::size_t>(small_stack_bytes, PTHREAD_STACK_MIN);
    pthread_attr_t attributes;
    pthread_t thread;
    bool ended = pthread_attr_init(&attributes) == 0 &&
                 pthread_attr_setstacksize(&attributes, bytes) == 0 &&
                 pthread_create(&thread, &attributes, run_calls, &replies) == 0 &&
                 pthread_join(thread, nullptr) == 0;
    pthread_attr_destroy(&attributes);
    return ended;
}
#endif

} // namespace

TEST(Stack, CallsRunOnASmallThreadStack) {
    if (!LUPEX_STACK_UNSANITIZED)
        GTEST_SKIP() << "sanitizers need more stack than the thread has";
    const std::vector<std::string> expected = calls_that_clear();
    std::vector<std::string> replies;
    ASSERT_TRUE(calls_on_small_stack(replies));
    EXPECT_EQ(replies, expected);
}
