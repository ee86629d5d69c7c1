// The tracked pool keeps one record per block it has handed out, in order of allocation.
// Records form a doubly linked list (so that releasing one is O(1)) and an index maps each
// block address to its record (so that finding one is O(1)); the list alone is the pool's
// contents, the index only speeds up the search.
#include "format/pool.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>

namespace {

struct PoolRecord {
    void* block;
    std::size_t size;
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
    }

    PoolRecord* head = nullptr;
    PoolRecord* tail = nullptr;
    std::unordered_map<void*, PoolRecord*> index;
    std::size_t bytes = 0;
    std::size_t peak = 0;
    bool refused = false;
    std::size_t thread_limit = 0;  // 0: the limit of every pool
};

// Each thread has a pool of its own, so that decodes on different threads never share one;
// on one thread the pool is the single global list the reader expects.
Pool& pool() {
    thread_local Pool instance;
    return instance;
}

std::atomic<std::size_t> g_limit{std::size_t{4} << 30};

void* track(void* block, std::size_t size) {
    Pool& p = pool();
    auto* record = static_cast<PoolRecord*>(std::malloc(sizeof(PoolRecord)));
    if (record == nullptr) {
        std::free(block);
        return nullptr;
    }
    record->block = block;
    record->size = size;
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

bool within_limit(std::size_t size) {
    Pool& p = pool();
    const std::size_t limit =
        p.thread_limit != 0 ? p.thread_limit : g_limit.load(std::memory_order_relaxed);
    if (size <= limit && p.bytes <= limit - size) return true;
    p.refused = true;
    return false;
}

void warn_not_found() {
    std::fputs("Warning: pointer not found.\n", stderr);
    std::fputs("Warning: pointer not found.\n", stdout);
}

}  // namespace

void* pool_alloc(int32_t size) {
    if (size < 0) return nullptr;
    std::size_t bytes = size == 0 ? 1 : static_cast<std::size_t>(size);
    if (!within_limit(bytes)) return nullptr;
    void* block = std::malloc(bytes);
    if (block == nullptr) {
        pool().refused = true;
        return nullptr;
    }
    return track(block, bytes);
}

void* pool_calloc(int32_t count, int32_t size) {
    if (count <= 0 || size <= 0) return nullptr;
    // The product is a 32-bit size: one beyond that range is refused instead of wrapping.
    const int64_t product = int64_t{count} * size;
    if (product > INT32_MAX) return nullptr;
    if (!within_limit(static_cast<std::size_t>(product))) return nullptr;
    void* block = std::calloc(static_cast<std::size_t>(count), static_cast<std::size_t>(size));
    if (block == nullptr) {
        pool().refused = true;
        return nullptr;
    }
    return track(block, static_cast<std::size_t>(product));
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
    std::free(record->block);
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
