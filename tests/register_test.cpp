// What a call leaves in the registers: built where the compiler zeroes the call-used
// registers on return (plugin/clear_regs.h), every export and C API function, on its
// success and its error paths, returns with all of them zero but the result.
// x86-64 System V only: a small routine in assembly makes the call and stores the
// registers right after it returns.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lupex.h"
#include "plugin/clear_regs.h"

// Not under ThreadSanitizer, whose calls at a function's exit may come after the
// compiler's zeroing.
#if defined(__SANITIZE_THREAD__)
#define LUPEX_REGISTERS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUPEX_REGISTERS_SANITIZED 1
#endif
#endif

#if defined(__x86_64__) && !defined(_WIN32) && !defined(LUPEX_REGISTERS_SANITIZED)
#define LUPEX_REGISTER_TEST 1
#if defined(__has_attribute)
#if __has_attribute(zero_call_used_regs)
#define LUPEX_REGISTERS_CLEARED 1
#endif
#endif
#endif

#if LUPEX_REGISTER_TEST
namespace {

// A call of `function` with seven integer arguments (the seventh on the stack), and
// where the registers go.
struct RegisterCall {
    const void *function;
    std::uint64_t arguments[7];
    std::uint64_t *dump; // rcx, rdx, rsi, rdi, r8-r11, then xmm0-xmm15: 8 + 32 words
};

extern "C" void lupex_test_call_and_dump(const RegisterCall *call);

__asm__(R"(
        .text
        .p2align 4
        .type lupex_test_call_and_dump, @function
lupex_test_call_and_dump:
        pushq   %rbx
        movq    %rdi, %rbx
        movq    8(%rbx), %rdi
        movq    16(%rbx), %rsi
        movq    24(%rbx), %rdx
        movq    32(%rbx), %rcx
        movq    40(%rbx), %r8
        movq    48(%rbx), %r9
        subq    $8, %rsp
        pushq   56(%rbx)
        call    *(%rbx)
        addq    $16, %rsp
        movq    64(%rbx), %rbx
        movq    %rcx, 0(%rbx)
        movq    %rdx, 8(%rbx)
        movq    %rsi, 16(%rbx)
        movq    %rdi, 24(%rbx)
        movq    %r8, 32(%rbx)
        movq    %r9, 40(%rbx)
        movq    %r10, 48(%rbx)
        movq    %r11, 56(%rbx)
        movdqu  %xmm0, 64(%rbx)
        movdqu  %xmm1, 80(%rbx)
        movdqu  %xmm2, 96(%rbx)
        movdqu  %xmm3, 112(%rbx)
        movdqu  %xmm4, 128(%rbx)
        movdqu  %xmm5, 144(%rbx)
        movdqu  %xmm6, 160(%rbx)
        movdqu  %xmm7, 176(%rbx)
        movdqu  %xmm8, 192(%rbx)
        movdqu  %xmm9, 208(%rbx)
        movdqu  %xmm10, 224(%rbx)
        movdqu  %xmm11, 240(%rbx)
        movdqu  %xmm12, 256(%rbx)
        movdqu  %xmm13, 272(%rbx)
        movdqu  %xmm14, 288(%rbx)
        movdqu  %xmm15, 304(%rbx)
        popq    %rbx
        ret
        .size lupex_test_call_and_dump, .-lupex_test_call_and_dump
)");

const char *const register_names[] = {"rcx",   "rdx",   "rsi",   "rdi",   "r8",    "r9",
                                      "r10",   "r11",   "xmm0",  "xmm1",  "xmm2",  "xmm3",
                                      "xmm4",  "xmm5",  "xmm6",  "xmm7",  "xmm8",  "xmm9",
                                      "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"};

std::uint64_t word(const void *p) { return reinterpret_cast<std::uintptr_t>(p); }

// The registers that are not zero after the call, by name.
std::string nonzero_registers_after(const void *function, std::vector<std::uint64_t> arguments) {
    std::uint64_t dump[8 + 32];
    std::memset(dump, 0xa5, sizeof dump);
    RegisterCall call{function, {}, dump};
    for (std::size_t i = 0; i < arguments.size(); ++i)
        call.arguments[i] = arguments[i];
    lupex_test_call_and_dump(&call);
    std::string nonzero;
    for (int r = 0; r < 24; ++r) {
        const bool zero = r < 8 ? dump[r] == 0 : dump[8 + 2 * (r - 8)] == 0 && dump[9 + 2 * (r - 8)] == 0;
        if (!zero)
            nonzero += std::string(" ") + register_names[r];
    }
    return nonzero;
}

} // namespace

TEST(Registers, CallUsedRegistersAreZeroOnReturn) {
#if !LUPEX_REGISTERS_CLEARED
    GTEST_SKIP() << "this compiler does not zero the call-used registers on return";
#endif
    const std::string key = "Register-Key:q7Wz!", text(100, 't');
    std::vector<char> out(lupex_encrypt_capacity(text.size()));
    std::size_t n = 0;
    ASSERT_EQ(lupex_encrypt(key.data(), key.size(), text.data(), text.size(), out.data(),
                            out.size(), &n),
              LUPEX_OK);
    const std::string cipher(out.data(), n);
    std::vector<char> cbc_out(lupex_encrypt_cbc_capacity(text.size()));
    ASSERT_EQ(lupex_encrypt_cbc(key.data(), key.size(), text.data(), text.size(), cbc_out.data(),
                                cbc_out.size(), &n),
              LUPEX_OK);
    const std::string cbc_cipher(cbc_out.data(), n);
    const auto c = word(cbc_cipher.data());
    const std::uint64_t cn = cbc_cipher.size(), bad = word("not base64!");
    const std::string with_zero("te\0xt", 5);
    lupex_key prepared;
    ASSERT_EQ(lupex_key_setup(&prepared, key.data(), key.size()), LUPEX_OK);
    char buffer[LUPEX_BUFFER_MIN];
    const auto request = [&](const std::string &line) {
        std::memcpy(buffer, line.c_str(), line.size() + 1);
        return word(buffer);
    };
    const auto k = word(key.data()), t = word(text.data()), o = word(out.data()),
               co = word(cbc_out.data());
    const std::uint64_t kn = key.size(), tn = text.size(), on = out.size(), con = cbc_out.size();
    const auto fn = [](auto *f) { return reinterpret_cast<const void *>(f); };
    struct Row {
        const char *name;
        const void *function;
        std::vector<std::uint64_t> arguments;
        std::string request; // for an export: the buffer's request
    } rows[] = {
        {"blowfish encrypt", fn(blowfish), {}, "encrypt " + key + " " + text},
        {"blowfish decrypt", fn(blowfish), {}, "decrypt " + key + " " + cipher},
        {"blowfish encpass", fn(blowfish), {}, "encpass " + key},
        {"blowfish, no key", fn(blowfish), {}, "encrypt"},
        {"md5", fn(md5), {}, text},
        {"dllinfo", fn(dllinfo), {}, key},
        {"lupex_encrypt", fn(lupex_encrypt), {k, kn, t, tn, o, on, 0}, ""},
        {"lupex_encrypt, zero byte", fn(lupex_encrypt),
         {k, kn, word(with_zero.data()), with_zero.size(), o, on, 0}, ""},
        {"lupex_encrypt, no space", fn(lupex_encrypt), {k, kn, t, tn, o, 1, 0}, ""},
        {"lupex_decrypt", fn(lupex_decrypt),
         {k, kn, word(cipher.data()), cipher.size(), o, on, 0}, ""},
        {"lupex_encpass", fn(lupex_encpass), {k, kn, o}, ""},
        {"lupex_md5", fn(lupex_md5), {t, tn, o}, ""},
        {"lupex_key_setup", fn(lupex_key_setup), {word(&prepared), k, kn}, ""},
        {"lupex_encrypt_with", fn(lupex_encrypt_with), {word(&prepared), t, tn, o, on, 0}, ""},
        {"lupex_decrypt_with", fn(lupex_decrypt_with),
         {word(&prepared), word(cipher.data()), cipher.size(), o, on, 0}, ""},
        {"blowfish encrypt-cbc", fn(blowfish), {}, "encrypt-cbc " + key + " " + text},
        {"blowfish decrypt-cbc", fn(blowfish), {}, "decrypt-cbc " + key + " " + cbc_cipher},
        {"blowfish decrypt-cbc, malformed", fn(blowfish), {}, "decrypt-cbc " + key + " " + cipher},
        {"lupex_encrypt_cbc", fn(lupex_encrypt_cbc), {k, kn, t, tn, co, con, 0}, ""},
        {"lupex_encrypt_cbc, no space", fn(lupex_encrypt_cbc), {k, kn, t, tn, co, 1, 0}, ""},
        {"lupex_decrypt_cbc", fn(lupex_decrypt_cbc), {k, kn, c, cn, co, con, 0}, ""},
        {"lupex_decrypt_cbc, malformed", fn(lupex_decrypt_cbc), {k, kn, bad, 11, co, con, 0}, ""},
        {"lupex_encrypt_cbc_with", fn(lupex_encrypt_cbc_with),
         {word(&prepared), t, tn, co, con, 0}, ""},
        {"lupex_decrypt_cbc_with", fn(lupex_decrypt_cbc_with),
         {word(&prepared), c, cn, co, con, 0}, ""},
        {"lupex_encrypt_with, out over the key", fn(lupex_encrypt_with),
         {word(&prepared), t, tn, word(&prepared), on, 0}, ""},
        {"lupex_key_wipe", fn(lupex_key_wipe), {word(&prepared)}, ""},
    };
    for (const auto &row : rows) {
        std::vector<std::uint64_t> arguments = row.arguments;
        if (arguments.empty()) // an export: the buffer is its third argument
            arguments = {0, 0, request(row.request), 0, 0, 0};
        EXPECT_EQ(nonzero_registers_after(row.function, arguments), "") << row.name;
    }
}
#endif
