// Windows heap and library entry point. Blocks come from the process heap, whose
// handle the entry point stores on every notification it receives.
#include <windows.h>

#include "plugin/platform.h"

namespace {
HANDLE process_heap = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    process_heap = GetProcessHeap();
    return TRUE;
}

void *heap_alloc_zeroed(std::size_t bytes) {
    // A host may load the module in a way that skips the entry point; the heap
    // handle is the same for the whole process either way.
    HANDLE heap = process_heap != nullptr ? process_heap : GetProcessHeap();
    return HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes);
}

void heap_release(void *block) {
    if (block == nullptr)
        return;
    HANDLE heap = process_heap != nullptr ? process_heap : GetProcessHeap();
    SIZE_T bytes = HeapSize(heap, 0, block);
    if (bytes != static_cast<SIZE_T>(-1))
        wipe_memory(block, bytes);
    HeapFree(heap, 0, block);
}
