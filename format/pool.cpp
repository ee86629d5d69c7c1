// The tracked pool keeps one record per block it has handed out, in order of allocation.
// Records form a doubly linked list (so that releasing one is O(1)) and an index maps each
// block address to its record (so that finding one is O(1)); the list alone is the pool's
// contents, the index only speeds up the search.
#include "format/pool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// Under AddressSanitizer a spare is poisoned while it is kept, so that a use of a block after
// it was given back is still found.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVEL_POOL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(KAVEL_POOL_ASAN)
#include <sanitizer/asan_interface.h>
#define KAVEL_POISON(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define KAVEL_UNPOISON(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define KAVEL_POISON(block, size) static_cast<void>(0)
#define KAVEL_UNPOISON(block, size) static_cast<void>(0)
#endif

namespace {

struct PoolRecord {
    void* block;
    std::size_t size;
    std::size_t capacity;  // what the block can hold (a spare taken again may be larger)
    PoolRecord* next;
    PoolRecord* previous;
};

struct Pool {
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    // A thread that ends with blocks still held gives them back.
    ~Pool() {
        for (PoolRecord* record = head; record != nullptr;) {
            PoolRecord* next = record->next;
            std::free(record->block);
            std::free(record);
            record = next;
        }
        release_spares();
    }

    void release_spares() {
        for (const Spare& spare : spares) {
            KAVEL_UNPOISON(spare.block, spare.capacity);
            std::free(spare.block);
        }
        spares.clear();
        spare_bytes = 0;
    }

    PoolRecord* head = nullptr;
    PoolRecord* tail = nullptr;
    std::unordered_map<void*, PoolRecord*> index;
    std::size_t bytes = 0;
    std::size_t peak = 0;
    bool refused = false;
    std::size_t thread_limit = 0;  // 0: the limit of every pool

    // Large blocks given back and kept for the next allocations of about their size: the
    // pieces of a large decode take and give back the same blocks, and a block taken again is
    // not faulted in page by page as fresh memory from the system is.
    struct Spare {
        void* block;
        std::size_t capacity;
    };
    std::vector<Spare> spares;
    std::size_t spare_bytes = 0;
};

// Blocks of at least this size are kept as spares when given back, while the spares come to
// at most kSpareMost bytes; a spare serves a request of at least two thirds of its size.
constexpr std::size_t kSpareLeast = std::size_t{1} << 18;
constexpr std::size_t kSpareMost = std::size_t{64} << 20;

// Each thread has a pool of its own, so that decodes on different threads never share one;
// on one thread the pool is the single global list the reader expects.
Pool& pool() {
    thread_local Pool instance;
    return instance;
}

// 4 GiB, or all there is where sizes have 32 bits (4 << 30 would wrap to 0 there).
std::atomic<std::size_t> g_limit{
    static_cast<std::size_t>(std::min<uint64_t>(uint64_t{4} << 30, SIZE_MAX))};

void* track(void* block, std::size_t size, std::size_t capacity) {
    Pool& p = pool();
    auto* record = static_cast<PoolRecord*>(std::malloc(sizeof(PoolRecord)));
    if (record == nullptr) {
        std::free(block);
        return nullptr;
    }
    record->block = block;
    record->size = size;
    record->capacity = capacity;
    record->next = nullptr;
    record->previous = p.tail;
    try {
        p.index.emplace(block, record);
    } catch (const std::bad_alloc&) {
        std::free(record);
        std::free(block);
        return nullptr;
    }
    if (p.tail != nullptr) {
        p.tail->next = record;
    } else {
        p.head = record;
    }
    p.tail = record;
    p.bytes += size;
    if (p.bytes > p.peak) p.peak = p.bytes;
    return block;
}

std::size_t effective_limit(const Pool& p) {
    return p.thread_limit != 0 ? p.thread_limit : g_limit.load(std::memory_order_relaxed);
}

bool within_limit(std::size_t size) {
    Pool& p = pool();
    const std::size_t limit = effective_limit(p);
    if (size <= limit && p.bytes <= limit - size) return true;
    p.refused = true;
    return false;
}

// Blocks of at least this size are placed on boundaries of kLargePage and offered to the
// system's large pages (Linux): the working memory of a large decode is then faulted in a
// few large pages at a time instead of one 4 KiB page at a time, and on a virtual machine those
// faults are a large share of a whole-image decode.
constexpr std::size_t kLargePage = std::size_t{2} << 20;

// Memory from the system, zero-filled when asked.
void* system_block(std::size_t size, bool zeroed) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size >= kLargePage) {
        const std::size_t pages = (size + 4095) & ~std::size_t{4095};
        void* block = nullptr;
        if (posix_memalign(&block, kLargePage, pages) != 0) return nullptr;
        // Only advice: where the system has no large pages the block is used as it is.
        static_cast<void>(madvise(block, pages, MADV_HUGEPAGE));
        if (zeroed) std::memset(block, 0, size);
        return block;
    }
#endif
    return zeroed ? std::calloc(size, 1) : std::malloc(size);
}

// A block of size bytes (zero-filled when asked): a spare that fits, or memory from the system.
// The memory kept as spares counts with the limit: it is given back before more is taken
// beyond it.
void* take(std::size_t size, bool zeroed) {
    if (!within_limit(size)) return nullptr;
    Pool& p = pool();
    if (size >= kSpareLeast) {
        std::size_t best = p.spares.size();
        for (std::size_t i = 0; i < p.spares.size(); ++i) {
            const std::size_t capacity = p.spares[i].capacity;
            if (capacity >= size && capacity - size <= capacity / 3 &&
                (best == p.spares.size() || capacity < p.spares[best].capacity)) {
                best = i;
            }
        }
        if (best != p.spares.size()) {
            const Pool::Spare spare = p.spares[best];
            p.spares.erase(p.spares.begin() + static_cast<std::ptrdiff_t>(best));
            p.spare_bytes -= spare.capacity;
            KAVEL_UNPOISON(spare.block, spare.capacity);
            if (zeroed) std::memset(spare.block, 0, size);
            return track(spare.block, size, spare.capacity);
        }
    }
    if (p.spare_bytes > 0 && p.bytes + p.spare_bytes + size > effective_limit(p)) {
        p.release_spares();
    }
    void* block = system_block(size, zeroed);
    if (block == nullptr && p.spare_bytes > 0) {
        p.release_spares();  // the system's memory is short: the spares go first
        block = system_block(size, zeroed);
    }
    if (block == nullptr) {
        p.refused = true;
        return nullptr;
    }
    return track(block, size, size);
}

// A large block given back is kept as a spare while the spares have room, else freed.
void keep_or_free(Pool& p, void* block, std::size_t capacity) {
    if (capacity >= kSpareLeast && p.spare_bytes + capacity <= kSpareMost) {
        try {
            p.spares.push_back({block, capacity});
            p.spare_bytes += capacity;
            KAVEL_POISON(block, capacity);
            return;
        } catch (const std::bad_alloc&) {
            // no room for the record: the block goes back to the system
        }
    }
    std::free(block);
}

void warn_not_found() {
    std::fputs("Warning: pointer not found.\n", stderr);
    std::fputs("Warning: pointer not found.\n", stdout);
}

}  // namespace

void* pool_alloc(int32_t size) {
    if (size < 0) return nullptr;
    return take(size == 0 ? 1 : static_cast<std::size_t>(size), false);
}

void* pool_calloc(int32_t count, int32_t size) {
    if (count <= 0 || size <= 0) return nullptr;
    // The product is a 32-bit size: one beyond that range is refused instead of wrapping.
    const int64_t product = int64_t{count} * size;
    if (product > INT32_MAX) return nullptr;
    return take(static_cast<std::size_t>(product), true);
}

int pool_free(void* address) {
    Pool& p = pool();
    auto found = p.index.find(address);
    if (address == nullptr || found == p.index.end()) {
        warn_not_found();
        return 1;
    }
    PoolRecord* record = found->second;
    p.index.erase(found);
    keep_or_free(p, record->block, record->capacity);
    if (record->previous != nullptr) {
        record->previous->next = record->next;
    } else {
        p.head = record->next;
    }
    if (record->next != nullptr) {
        record->next->previous = record->previous;
    } else {
        p.tail = record->previous;
    }
    p.bytes -= record->size;
    std::free(record);
    return 0;
}

void pool_free_all() {
    Pool& p = pool();
    PoolRecord* record = p.head;
    while (record != nullptr) {
        PoolRecord* next = record->next;
        std::free(record->block);
        std::free(record);
        record = next;
    }
    p.head = nullptr;
    p.tail = nullptr;
    p.index.clear();
    p.bytes = 0;
}

std::size_t pool_block_count() { return pool().index.size(); }
std::size_t pool_bytes_held() { return pool().bytes; }
std::size_t pool_peak_bytes() { return pool().peak; }
void pool_reset_peak() { pool().peak = pool().bytes; }
void pool_set_limit(std::size_t bytes) { g_limit.store(bytes, std::memory_order_relaxed); }
std::size_t pool_limit() { return g_limit.load(std::memory_order_relaxed); }
bool pool_limit_reached() { return pool().refused; }
std::size_t pool_set_thread_limit(std::size_t bytes) {
    const std::size_t previous = pool().thread_limit;
    pool().thread_limit = bytes;
    return previous;
}
void pool_clear_limit_reached() { pool().refused = false; }
void pool_release_spares() { pool().release_spares(); }
std::size_t pool_spare_bytes() { return pool().spare_bytes; }
