#include "tools/heap_settings.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#define KAVEL_GLIBC_HEAP 1
#endif

namespace kavel_tools {

void keep_large_blocks_in_heap() {
#if defined(KAVEL_GLIBC_HEAP)
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHeapMappingBytes));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kHeapMappingBytes));
#endif
}

void use_large_page_heap(std::size_t bytes) {
#if defined(KAVEL_GLIBC_HEAP) && defined(MADV_HUGEPAGE)
    // The thread's heap grows by the block and keeps the room once it is given back; the part
    // of it on large-page boundaries is marked, and the thread's later blocks are carved from
    // that room.
    constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
    void* block = std::malloc(bytes);
    if (block == nullptr) return;
    const auto start = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
    const auto end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLargePage - 1);
    // Only advice: without large pages the heap is used as it is.
    if (end > start) {
        static_cast<void>(madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE));
    }
    std::free(block);
#else
    static_cast<void>(bytes);
#endif
}

}  // namespace kavel_tools
