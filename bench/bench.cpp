// Each procedure timed beside a reference written with OpenSSL's libcrypto, in pairs:
// every round calls the library a batch of times and the reference a batch of times,
// back to back in alternating order, so that both see the same machine. The ratio of
// a pair is the median over its rounds of (library time / reference time), which a
// busy neighbour on the machine disturbs far less than two separate medians.
//
// The library is loaded at run time and called through its exports with a host
// buffer, as a host calls it, and through its C API as a program that links it calls
// it: the input in a buffer, the output into the same buffer behind it. Before
// timing, both sides of every pair must give the same result.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include <openssl/blowfish.h>
#include <openssl/crypto.h>

#include "bench/reference.h"
#include "cipher/blowfish.h"
#include "lupex.h"
#include "plugin/platform.h"

using namespace lupex;

namespace {

struct Pair;
using Call = void (*)(char *buffer, const Pair &pair);

struct Pair {
    std::string label;
    // The host buffer's request, or the C API call's input.
    std::string request;
    Call library;
    Call reference;
    // Where a C API call writes its output in the buffer, behind the input, and how
    // much room it has there; 0 for a procedure, which replies in place.
    std::size_t output_at = 0, output_capacity = 0;
    // A CBC encryption: each call draws its own IV, so the two sides' cipher texts
    // differ, and each must decrypt on the other side instead.
    bool fresh_iv = false;
    // Filled by the run: every round's time per call, in nanoseconds.
    std::vector<double> library_ns = {}, reference_ns = {}, ratios = {};
};
std::vector<Pair> pairs;

lupex_procedure library_blowfish = nullptr;
lupex_procedure library_md5 = nullptr;

void call_blowfish(char *buffer, const Pair &) {
    library_blowfish(nullptr, nullptr, buffer, nullptr, 0, 0);
}
void call_md5(char *buffer, const Pair &) { library_md5(nullptr, nullptr, buffer, nullptr, 0, 0); }
void reference_procedure_blowfish(char *buffer, const Pair &) { ::reference_blowfish(buffer); }
void reference_procedure_md5(char *buffer, const Pair &) { ::reference_md5(buffer); }

// The key schedule alone, as each side runs it on every call, wipe included.
const char schedule_key[] = "0123456789abcdef";
void library_schedule(char *, const Pair &) {
    BoxSet boxes;
    box_setup(&boxes, reinterpret_cast<const unsigned char *>(schedule_key), 16);
    benchmark::DoNotOptimize(boxes.words[18 + 4 * 256 - 1]);
    wipe_memory(&boxes, sizeof boxes);
}
void reference_schedule(char *, const Pair &) {
    BF_KEY schedule;
    BF_set_key(&schedule, 16, reinterpret_cast<const unsigned char *>(schedule_key));
    benchmark::DoNotOptimize(schedule.S[1023]);
    OPENSSL_cleanse(&schedule, sizeof schedule);
}

const char text_key[] = "benchmark-key-16";
const auto *const text_key_bytes = reinterpret_cast<const unsigned char *>(text_key);
constexpr std::size_t text_key_length = sizeof text_key - 1;

// The C API as the shared library exports it, and the text key prepared once for each
// side.
struct Api {
    decltype(&lupex_encrypt) encrypt;
    decltype(&lupex_decrypt) decrypt;
    decltype(&lupex_encpass) encpass;
    decltype(&lupex_md5) md5;
    decltype(&lupex_key_setup) key_setup;
    decltype(&lupex_encrypt_with) encrypt_with;
    decltype(&lupex_decrypt_with) decrypt_with;
    decltype(&lupex_key_wipe) key_wipe;
    decltype(&lupex_encrypt_cbc) encrypt_cbc;
    decltype(&lupex_decrypt_cbc) decrypt_cbc;
    decltype(&lupex_encrypt_cbc_with) encrypt_cbc_with;
    decltype(&lupex_decrypt_cbc_with) decrypt_cbc_with;
} api;
lupex_key prepared_key;
BF_KEY prepared_reference;

const unsigned char *input_of(const char *buffer) {
    return reinterpret_cast<const unsigned char *>(buffer);
}

// A C API call that fails would time its refusal instead of its work.
void succeeded(int code) {
    if (code != LUPEX_OK) {
        std::fprintf(stderr, "a C API call failed: %s\n", lupex_error_string(code));
        std::exit(1);
    }
}

void api_encrypt(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.encrypt(text_key, text_key_length, b, p.request.size(), b + p.output_at,
                          p.output_capacity, &n));
}
void api_decrypt(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.decrypt(text_key, text_key_length, b, p.request.size(), b + p.output_at,
                          p.output_capacity, &n));
}
void api_encrypt_with(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.encrypt_with(&prepared_key, b, p.request.size(), b + p.output_at,
                               p.output_capacity, &n));
}
void api_decrypt_with(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.decrypt_with(&prepared_key, b, p.request.size(), b + p.output_at,
                               p.output_capacity, &n));
}
void api_encrypt_cbc(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.encrypt_cbc(text_key, text_key_length, b, p.request.size(), b + p.output_at,
                              p.output_capacity, &n));
}
void api_encrypt_cbc_with(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.encrypt_cbc_with(&prepared_key, b, p.request.size(), b + p.output_at,
                                   p.output_capacity, &n));
}
void api_decrypt_cbc_with(char *b, const Pair &p) {
    std::size_t n;
    succeeded(api.decrypt_cbc_with(&prepared_key, b, p.request.size(), b + p.output_at,
                                   p.output_capacity, &n));
}
void api_encpass(char *b, const Pair &p) {
    succeeded(api.encpass(b, p.request.size(), b + p.output_at));
}
void api_md5(char *b, const Pair &p) { succeeded(api.md5(b, p.request.size(), b + p.output_at)); }

void reference_api_encrypt(char *b, const Pair &p) {
    reference_encrypt(text_key_bytes, text_key_length, input_of(b), p.request.size(),
                      b + p.output_at);
}
void reference_api_decrypt(char *b, const Pair &p) {
    reference_decrypt(text_key_bytes, text_key_length, b, p.request.size(), b + p.output_at);
}
void reference_api_encrypt_with(char *b, const Pair &p) {
    reference_encrypt(&prepared_reference, input_of(b), p.request.size(), b + p.output_at);
}
void reference_api_decrypt_with(char *b, const Pair &p) {
    reference_decrypt(&prepared_reference, b, p.request.size(), b + p.output_at);
}
void reference_api_encrypt_cbc(char *b, const Pair &p) {
    reference_encrypt_cbc(text_key_bytes, text_key_length, input_of(b), p.request.size(),
                          b + p.output_at);
}
void reference_api_encrypt_cbc_with(char *b, const Pair &p) {
    reference_encrypt_cbc(&prepared_reference, input_of(b), p.request.size(), b + p.output_at);
}
void reference_api_decrypt_cbc_with(char *b, const Pair &p) {
    reference_decrypt_cbc(&prepared_reference, b, p.request.size(), b + p.output_at);
}
void reference_api_encpass(char *b, const Pair &p) {
    reference_pass_hash(input_of(b), p.request.size(), b + p.output_at);
}
void reference_api_md5(char *b, const Pair &p) {
    reference_md5_hex(input_of(b), p.request.size(), b + p.output_at);
}

// Printable text with blanks inside, different at every position.
std::string sample_text(std::size_t n) {
    std::string text(n, ' ');
    for (std::size_t i = 0; i < n; ++i)
        text[i] = i % 7 == 6 ? ' ' : static_cast<char>('!' + (i * 37 + i / 7) % 94);
    return text;
}

// Host buffers of max(1,024, request + 1) bytes each, as a host supplies them, one per
// call of a batch. A call overwrites its buffer (the reply, words cut apart, the rest
// of the request cleared), so they are refilled before every batch, outside the timing.
// Their starts step through every 64-byte offset within a 4 KiB page: a short call's
// time depends on where its buffer lies against the callee's stack (loads and stores
// 4 KiB apart look alike to the processor), and one fixed placement would favour one
// side or the other by chance.
struct HostBuffers {
    // Whole pages and 21 lines: 21 has no common factor with 64, so successive buffers
    // start at all 64 line offsets of a page in turn.
    static std::size_t stride_for(std::size_t capacity) {
        return (capacity + 4095) / 4096 * 4096 + 21 * 64;
    }
    HostBuffers(const Pair &pair, int count)
        : request(pair.request),
          stride(stride_for(std::max<std::size_t>(1024, request.size() + 1) + pair.output_capacity)),
          bytes(stride * static_cast<std::size_t>(count)), count(count) {}
    char *operator[](int i) { return bytes.data() + stride * static_cast<std::size_t>(i); }
    void refill() {
        for (int i = 0; i < count; ++i)
            std::memcpy((*this)[i], request.c_str(), request.size() + 1);
    }
    std::string request;
    std::size_t stride;
    std::vector<char> bytes;
    int count;
};

// The reply, or the C API call's output.
std::string reply_of(Call call, const Pair &pair) {
    HostBuffers buffer(pair, 1);
    buffer.refill();
    call(buffer[0], pair);
    return buffer[0] + pair.output_at;
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
}

using Clock = std::chrono::steady_clock;

// Nanoseconds per call over a batch of calls, one per buffer.
double time_batch(Call call, const Pair &pair, HostBuffers &buffers) {
    buffers.refill();
    const auto start = Clock::now();
    for (int i = 0; i < buffers.count; ++i)
        call(buffers[i], pair);
    benchmark::ClobberMemory();
    const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
    return elapsed.count() / buffers.count;
}

// Enough calls per batch for about 20 microseconds, far above the clock's cost.
int batch_size(Call call, const Pair &pair) {
    HostBuffers buffers(pair, 16);
    time_batch(call, pair, buffers);
    const double ns = time_batch(call, pair, buffers);
    return std::clamp(static_cast<int>(20000 / std::max(ns, 1.0)), 1, 1000);
}

void run_pair(benchmark::State &state, Pair *pair) {
    const int batch = batch_size(pair->reference, *pair);
    HostBuffers library_buffers(*pair, batch), reference_buffers(*pair, batch);
    std::size_t round = 0;
    std::vector<double> library_ns, reference_ns;
    for (auto _ : state) {
        double a, b;
        if (round++ % 2 == 0) {
            a = time_batch(pair->library, *pair, library_buffers);
            b = time_batch(pair->reference, *pair, reference_buffers);
        } else {
            b = time_batch(pair->reference, *pair, reference_buffers);
            a = time_batch(pair->library, *pair, library_buffers);
        }
        library_ns.push_back(a);
        reference_ns.push_back(b);
    }
    std::vector<double> ratios(library_ns.size());
    for (std::size_t i = 0; i < ratios.size(); ++i)
        ratios[i] = library_ns[i] / reference_ns[i];
    state.counters["lupex_us"] = median(library_ns) / 1000;
    state.counters["openssl_us"] = median(reference_ns) / 1000;
    state.counters["ratio"] = median(ratios);
    state.counters["batch"] = batch;
    pair->library_ns.insert(pair->library_ns.end(), library_ns.begin(), library_ns.end());
    pair->reference_ns.insert(pair->reference_ns.end(), reference_ns.begin(), reference_ns.end());
    pair->ratios.insert(pair->ratios.end(), ratios.begin(), ratios.end());
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one.empty() ? "unknown" : one + " " + five + " " + fifteen;
}

std::string format_us(double ns) {
    char text[32];
    std::snprintf(text, sizeof text, ns < 10000 ? "%.2f" : ns < 100000 ? "%.1f" : "%.0f",
                  ns / 1000);
    return text;
}

void print_table(const std::string &load_before) {
    std::printf("\nMedians per call in microseconds; ratio = median of paired (lupex / OpenSSL).\n");
    std::printf("Load average before: %s, after: %s\n\n", load_before.c_str(),
                load_average().c_str());
    std::printf("| call | lupex µs | OpenSSL µs | ratio |\n|---|---:|---:|---:|\n");
    for (const Pair &pair : pairs) {
        if (pair.ratios.empty())
            continue;
        std::printf("| %s | %s | %s | %.3f |\n", pair.label.c_str(),
                    format_us(median(pair.library_ns)).c_str(),
                    format_us(median(pair.reference_ns)).c_str(), median(pair.ratios));
    }
}

std::string size_label(std::size_t n) {
    if (n >= 1 << 20 && n % (1 << 20) == 0)
        return std::to_string(n >> 20) + " MiB";
    if (n >= 1 << 10 && n % (1 << 10) == 0)
        return std::to_string(n >> 10) + " KiB";
    return std::to_string(n) + " bytes";
}

// A C API pair: the input, and room behind it for `capacity` bytes of output.
Pair api_pair(const std::string &label, const std::string &input, Call library, Call reference,
              std::size_t capacity) {
    return {"C API " + label, input, library, reference, input.size() + 1, capacity};
}

void add_pairs() {
    pairs.push_back({"key schedule alone", "", library_schedule, reference_schedule});
    std::vector<std::string> cipher_texts;
    for (std::size_t n : {16, 100, 400, 672}) {
        const std::string request = "encrypt " + std::string(text_key) + " " + sample_text(n);
        pairs.push_back({"encrypt " + size_label(n), request, call_blowfish, reference_procedure_blowfish});
        cipher_texts.push_back(reply_of(call_blowfish, pairs.back()).substr(4));
    }
    for (const std::string &cipher_text : cipher_texts)
        pairs.push_back({"decrypt " + std::to_string(cipher_text.size()) + " characters",
                         "decrypt " + std::string(text_key) + " " + cipher_text, call_blowfish,
                         reference_procedure_blowfish});
    for (std::size_t n : {8, 16})
        pairs.push_back({"encpass " + size_label(n), "encpass " + sample_text(n), call_blowfish,
                         reference_procedure_blowfish});
    for (std::size_t n : {16, 400, 1000, 64 << 10, 1 << 20})
        pairs.push_back({"md5 " + size_label(n), sample_text(n), call_md5, reference_procedure_md5});

    // The C API: the same jobs, and under a prepared key, where the key schedule is out
    // of the way and the text loops are all there is to time.
    for (std::size_t n : {16, 100, 672})
        pairs.push_back(api_pair("encrypt " + size_label(n), sample_text(n), api_encrypt,
                                 reference_api_encrypt, lupex_encrypt_capacity(n)));
    pairs.push_back(api_pair("decrypt " + std::to_string(cipher_texts[1].size()) + " characters",
                             cipher_texts[1], api_decrypt, reference_api_decrypt,
                             lupex_decrypt_capacity(cipher_texts[1].size())));
    pairs.push_back(api_pair("encpass 8 bytes", sample_text(8), api_encpass,
                             reference_api_encpass, 14));
    for (std::size_t n : {400, 1 << 20})
        pairs.push_back(api_pair("md5 " + size_label(n), sample_text(n), api_md5,
                                 reference_api_md5, 33));
    for (std::size_t n : {16, 100, 672, 64 << 10})
        pairs.push_back(api_pair("encrypt " + size_label(n) + ", prepared key", sample_text(n),
                                 api_encrypt_with, reference_api_encrypt_with,
                                 lupex_encrypt_capacity(n)));
    // The CBC form: one-shot and under a prepared key, and decryption of a 100-byte
    // text's cipher text, which runs four blocks side by side.
    const std::string cbc_request = "encrypt-cbc " + std::string(text_key) + " " + sample_text(100);
    pairs.push_back({"encrypt-cbc 100 bytes", cbc_request, call_blowfish,
                     reference_procedure_blowfish, 0, 0, true});
    const std::string cbc_cipher = reply_of(call_blowfish, pairs.back()).substr(4);
    pairs.push_back({"decrypt-cbc " + std::to_string(cbc_cipher.size()) + " characters",
                     "decrypt-cbc " + std::string(text_key) + " " + cbc_cipher, call_blowfish,
                     reference_procedure_blowfish});
    pairs.push_back(api_pair("encrypt-cbc 100 bytes", sample_text(100), api_encrypt_cbc,
                             reference_api_encrypt_cbc, lupex_encrypt_cbc_capacity(100)));
    pairs.back().fresh_iv = true;
    pairs.push_back(api_pair("encrypt-cbc 100 bytes, prepared key", sample_text(100),
                             api_encrypt_cbc_with, reference_api_encrypt_cbc_with,
                             lupex_encrypt_cbc_capacity(100)));
    pairs.back().fresh_iv = true;
    pairs.push_back(api_pair("decrypt-cbc " + std::to_string(cbc_cipher.size()) +
                                 " characters, prepared key",
                             cbc_cipher, api_decrypt_cbc_with, reference_api_decrypt_cbc_with,
                             lupex_decrypt_cbc_capacity(cbc_cipher.size())));
    for (std::size_t n : {16, 100, 672}) {
        const std::string cipher_text = cipher_texts[n == 16 ? 0 : n == 100 ? 1 : 3];
        pairs.push_back(api_pair("decrypt " + std::to_string(cipher_text.size()) +
                                     " characters, prepared key",
                                 cipher_text, api_decrypt_with, reference_api_decrypt_with,
                                 lupex_decrypt_capacity(cipher_text.size())));
    }
}

// Both sides of every pair must reply alike, or the comparison means nothing.
bool replies_agree() {
    bool agree = true;
    for (const Pair &pair : pairs) {
        const std::string a = reply_of(pair.library, pair);
        const std::string b = reply_of(pair.reference, pair);
        if (pair.fresh_iv) {
            // The text, and each side's cipher text decrypted by the other.
            const std::string text = pair.output_capacity != 0
                ? pair.request
                : pair.request.substr(pair.request.find(' ', 12) + 1);
            const std::size_t at = pair.output_capacity != 0 ? 0 : 4;
            std::vector<char> plain(a.size() + 1);
            const std::size_t n = b.size() - at;
            const bool ok =
                a.size() == b.size() && a.size() > at && a[at] == '*' &&
                reference_decrypt_cbc(&prepared_reference, a.data() + at, a.size() - at,
                                      plain.data()) == text.size() &&
                text == plain.data() &&
                api.decrypt_cbc_with(&prepared_key, b.data() + at, n, plain.data(),
                                     plain.size(), nullptr) == LUPEX_OK &&
                text == plain.data();
            if (!ok) {
                std::fprintf(stderr, "%s: cipher texts do not cross\n  lupex:   %s\n  OpenSSL: %s\n",
                             pair.label.c_str(), a.c_str(), b.c_str());
                agree = false;
            }
            continue;
        }
        const bool replied = pair.output_capacity != 0 ? !a.empty() : a.compare(0, 4, "+OK ") == 0;
        if (a != b || (!pair.request.empty() && !replied)) {
            std::fprintf(stderr, "%s: replies differ\n  lupex:   %s\n  OpenSSL: %s\n",
                         pair.label.c_str(), a.c_str(), b.c_str());
            agree = false;
        }
    }
    BoxSet boxes;
    BF_KEY schedule;
    box_setup(&boxes, reinterpret_cast<const unsigned char *>(schedule_key), 16);
    BF_set_key(&schedule, 16, reinterpret_cast<const unsigned char *>(schedule_key));
    if (std::memcmp(p_array(&boxes), schedule.P, sizeof schedule.P) != 0 ||
        std::memcmp(sbox(&boxes, 0), schedule.S, sizeof schedule.S) != 0) {
        std::fprintf(stderr, "key schedule: tables differ\n");
        agree = false;
    }
    return agree;
}

} // namespace

int main(int argc, char **argv) {
    const char *path = std::getenv("LUPEX_LIBRARY");
    void *library = dlopen(path != nullptr ? path : LUPEX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "lupex_bench: %s\n", dlerror());
        return 2;
    }
    library_blowfish = reinterpret_cast<lupex_procedure>(dlsym(library, "blowfish"));
    library_md5 = reinterpret_cast<lupex_procedure>(dlsym(library, "md5"));
    bool found = library_blowfish != nullptr && library_md5 != nullptr;
    const auto bind = [&](auto &function, const char *name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(library, name));
        found &= function != nullptr;
    };
    bind(api.encrypt, "lupex_encrypt");
    bind(api.decrypt, "lupex_decrypt");
    bind(api.encpass, "lupex_encpass");
    bind(api.md5, "lupex_md5");
    bind(api.key_setup, "lupex_key_setup");
    bind(api.encrypt_with, "lupex_encrypt_with");
    bind(api.decrypt_with, "lupex_decrypt_with");
    bind(api.key_wipe, "lupex_key_wipe");
    bind(api.encrypt_cbc, "lupex_encrypt_cbc");
    bind(api.decrypt_cbc, "lupex_decrypt_cbc");
    bind(api.encrypt_cbc_with, "lupex_encrypt_cbc_with");
    bind(api.decrypt_cbc_with, "lupex_decrypt_cbc_with");
    if (!found) {
        std::fprintf(stderr, "lupex_bench: exports missing\n");
        return 2;
    }
    succeeded(api.key_setup(&prepared_key, text_key, text_key_length));
    BF_set_key(&prepared_reference, static_cast<int>(text_key_length), text_key_bytes);

    add_pairs();
    if (!replies_agree())
        return 1;
    for (Pair &pair : pairs)
        benchmark::RegisterBenchmark(pair.label.c_str(), run_pair, &pair)
            ->Unit(benchmark::kMicrosecond);

    // A second of rounds per pair unless the command line says otherwise (the later
    // flag wins).
    std::vector<char *> args(argv, argv + argc);
    char default_min_time[] = "--benchmark_min_time=1";
    args.insert(args.begin() + 1, default_min_time);
    int arg_count = static_cast<int>(args.size());
    const std::string load_before = load_average();
    benchmark::Initialize(&arg_count, args.data());
    if (benchmark::ReportUnrecognizedArguments(arg_count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    print_table(load_before);
    api.key_wipe(&prepared_key);
    OPENSSL_cleanse(&prepared_reference, sizeof prepared_reference);
    dlclose(library);
    return 0;
}
