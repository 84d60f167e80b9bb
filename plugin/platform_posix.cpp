// POSIX heap over the C allocator. Each block carries its size in a header so that
// heap_release can wipe it. Built with LUPEX_HEAP_HOOKS, for the static library that
// the tests and fuzz targets link, it also holds the test seam of heap_hooks.h; the
// shared library is built without it and keeps no state at all.
#include <cstdint>
#include <cstdlib>

#include "plugin/platform.h"

#ifdef LUPEX_HEAP_HOOKS
#include <atomic>

#include "plugin/heap_hooks.h"
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
#else
constexpr bool injected_failure() { return false; }
void count_blocks(long) {}
void observe_release(const void *, std::size_t) {}
#endif

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

#ifdef LUPEX_HEAP_HOOKS
void heap_hooks_fail_allocation(long n) { fail_countdown.store(n); }

long heap_hooks_live_blocks() { return live_blocks.load(); }

void heap_hooks_observe_release(HeapReleaseObserver observe) { release_observer.store(observe); }
#endif

} // namespace lupex
