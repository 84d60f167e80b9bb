// POSIX heap over the C allocator, and the random source. Each block carries its size
// in a header so that heap_release can wipe it. Built with LUPEX_HEAP_HOOKS, for the
// static library that the tests and fuzz targets link, it also holds the test seams of
// heap_hooks.h and random_hooks.h; the shared library is built without them and keeps
// no state at all.
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/random.h>
#else
#include <unistd.h>
#endif

#include "plugin/platform.h"

#ifdef LUPEX_HEAP_HOOKS
#include <atomic>

#include "plugin/heap_hooks.h"
#include "plugin/random_hooks.h"
#endif

namespace lupex {

namespace {

// Keeps the block itself 16-byte aligned, as malloc's own blocks are.
constexpr std::size_t header_bytes = 16;
static_assert(sizeof(std::size_t) <= header_bytes, "size must fit in the header");

#ifdef LUPEX_HEAP_HOOKS
std::atomic<long> live_blocks{0};
std::atomic<long> fail_countdown{-1};
std::atomic<HeapReleaseObserver> release_observer{nullptr};

bool injected_failure() {
    long n = fail_countdown.load(std::memory_order_relaxed);
    while (n >= 0) {
        if (fail_countdown.compare_exchange_weak(n, n - 1, std::memory_order_relaxed))
            return n == 0;
    }
    return false;
}

void count_blocks(long change) { live_blocks.fetch_add(change, std::memory_order_relaxed); }

void observe_release(const void *block, std::size_t bytes) {
    if (HeapReleaseObserver observe = release_observer.load())
        observe(static_cast<const unsigned char *>(block), bytes);
}

std::atomic<RandomSource> random_source{nullptr};

RandomSource hooked_source() { return random_source.load(); }
#else
constexpr bool injected_failure() { return false; }
void count_blocks(long) {}
void observe_release(const void *, std::size_t) {}
// No seam: the operating system's source, always.
using RandomSource = bool (*)(unsigned char *, std::size_t);
constexpr RandomSource hooked_source() { return nullptr; }
#endif

// The kernel's source, which blocks only until it is first seeded: getrandom on Linux,
// getentropy elsewhere (at most 256 bytes a call, far more than any caller asks for).
bool system_random(unsigned char *out, std::size_t bytes) {
#if defined(__linux__)
    while (bytes > 0) {
        const ssize_t got = getrandom(out, bytes, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        bytes -= static_cast<std::size_t>(got);
    }
    return true;
#else
    return bytes <= 256 && getentropy(out, bytes) == 0;
#endif
}

} // namespace

void *heap_alloc_zeroed(std::size_t bytes) {
    if (bytes > SIZE_MAX - header_bytes || injected_failure())
        return nullptr;
    auto *raw = static_cast<unsigned char *>(std::calloc(1, header_bytes + bytes));
    if (raw == nullptr)
        return nullptr;
    std::memcpy(raw, &bytes, sizeof bytes);
    count_blocks(1);
    return raw + header_bytes;
}

void heap_release(void *block) {
    if (block == nullptr)
        return;
    auto *raw = static_cast<unsigned char *>(block) - header_bytes;
    std::size_t bytes;
    std::memcpy(&bytes, raw, sizeof bytes);
    wipe_memory(block, bytes);
    observe_release(block, bytes);
    count_blocks(-1);
    std::free(raw);
}

bool random_bytes(unsigned char *out, std::size_t bytes) {
    if (auto source = hooked_source())
        return source(out, bytes);
    return system_random(out, bytes);
}

#ifdef LUPEX_HEAP_HOOKS
void random_hooks_source(RandomSource source) { random_source.store(source); }

void heap_hooks_fail_allocation(long n) { fail_countdown.store(n); }

long heap_hooks_live_blocks() { return live_blocks.load(); }

void heap_hooks_observe_release(HeapReleaseObserver observe) { release_observer.store(observe); }
#endif

} // namespace lupex
