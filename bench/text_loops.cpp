// Times the text loops of one build of the library, linked against its static
// library: text_encrypt and text_decrypt of a 64 KiB text (the key schedule is then a
// small share of the time), and the blowfish procedure encrypting 672 bytes, the
// longest text a reply holds, and decrypting the result. Prints the median of 21
// runs of each in nanoseconds per plain-text byte. Built and run by text_loops.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/text_cipher.h"
#include "lupex.h"
#include "plugin/platform.h"

using namespace lupex;

namespace {

template <class F> double median_ns_per_byte(F run, int repeats, double bytes) {
    std::vector<double> times;
    for (int r = 0; r < 21; ++r) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < repeats; ++i)
            run();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        times.push_back(took.count() / repeats / bytes);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main() {
    std::string text(65536, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    char *cipher = text_encrypt("secret", text.c_str());
    if (cipher == nullptr)
        return 1;
    const double encrypt = median_ns_per_byte(
        [&] { heap_release(text_encrypt("secret", text.c_str())); }, 4, 65536);
    const double decrypt = median_ns_per_byte(
        [&] { heap_release(text_decrypt("secret", cipher)); }, 4, 65536);
    heap_release(cipher);

    const std::string encrypt_request = "encrypt secret " + text.substr(0, 672);
    char buffer[2048];
    const double encrypt_call = median_ns_per_byte(
        [&] {
            std::memcpy(buffer, encrypt_request.c_str(), encrypt_request.size() + 1);
            blowfish(nullptr, nullptr, buffer, nullptr, 0, 0);
        },
        200, 672);
    const std::string decrypt_request = std::string("decrypt secret ") + (buffer + 4);
    const double decrypt_call = median_ns_per_byte(
        [&] {
            std::memcpy(buffer, decrypt_request.c_str(), decrypt_request.size() + 1);
            blowfish(nullptr, nullptr, buffer, nullptr, 0, 0);
        },
        200, 672);

    std::printf("ns per byte, median of 21 runs\n");
    std::printf("text_encrypt, 64 KiB      %7.2f\n", encrypt);
    std::printf("text_decrypt, 64 KiB      %7.2f\n", decrypt);
    std::printf("blowfish encrypt, 672 B   %7.2f\n", encrypt_call);
    std::printf("blowfish decrypt, 672 B   %7.2f\n", decrypt_call);
    return 0;
}
