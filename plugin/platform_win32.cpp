// Windows heap, random source and library entry point. Blocks come from the process
// heap, whose handle the entry point stores on every notification it receives.
#include <windows.h>

#include <climits>

#include <atomic>

#include "plugin/platform.h"

namespace lupex {

namespace {

// Stored by the entry point on every thread attach and detach while other threads
// read it. Every store writes the same handle, so relaxed order is all it needs; on
// x86 both sides stay plain moves.
std::atomic<HANDLE> process_heap{nullptr};

HANDLE heap() {
    // A host may load the module in a way that skips the entry point; the heap
    // handle is the same for the whole process either way.
    HANDLE h = process_heap.load(std::memory_order_relaxed);
    return h != nullptr ? h : GetProcessHeap();
}

} // namespace

// The DLL's entry point, linked without any C runtime start-up (see CMakeLists.txt):
// the loader calls it directly, under its lock, so it does nothing but fetch the heap
// handle. No constructors run before it, so the library has no static object that
// needs one.
extern "C" BOOL WINAPI lupex_library_entry(HINSTANCE, DWORD, LPVOID) {
    process_heap.store(GetProcessHeap(), std::memory_order_relaxed);
    return TRUE;
}

void *heap_alloc_zeroed(std::size_t bytes) { return HeapAlloc(heap(), HEAP_ZERO_MEMORY, bytes); }

void heap_release(void *block) {
    if (block == nullptr)
        return;
    HANDLE h = heap();
    SIZE_T bytes = HeapSize(h, 0, block);
    if (bytes != static_cast<SIZE_T>(-1))
        wipe_memory(block, bytes);
    HeapFree(h, 0, block);
}

// RtlGenRandom, the system's generator, exported by ADVAPI32.dll as SystemFunction036:
// the one import that the random source adds. Declared here, as the Windows headers
// declare it only under that alias; ADVAPI32 is among the libraries that a MinGW-w64
// or Visual Studio link takes by default, so a program that links the static library
// needs nothing more.
extern "C" __declspec(dllimport) BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG bytes);

bool random_bytes(unsigned char *out, std::size_t bytes) {
    return bytes <= ULONG_MAX && SystemFunction036(out, static_cast<ULONG>(bytes)) != FALSE;
}

} // namespace lupex
