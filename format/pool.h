// The tracked memory pool: every block the reader and the decoder take comes from here,
// so that a failed region decode can release everything at once.
//
// Each thread has its own pool (one global list per thread, unsynchronised): a block must be
// released on the thread that took it, and decodes on different threads do not meet.
#pragma once

#include <cstddef>
#include <cstdint>

// An uninitialised block of size bytes (0 is taken as 1), or nullptr.
void* pool_alloc(int32_t size);
// A zero-filled block of count x size bytes, or nullptr; a product of 0 (or one beyond the
// 32-bit range) returns nullptr and allocates nothing.
void* pool_calloc(int32_t count, int32_t size);
// Releases a block handed out by the pool: 0. A block the pool does not hold: prints
// "Warning: pointer not found.\n" to stderr and to stdout, returns 1, changes nothing.
int pool_free(void* address);
// Releases every block the pool holds; the pool can be used again at once.
void pool_free_all();

// Bookkeeping for tests and for callers who want to bound decoding memory.
std::size_t pool_block_count();
std::size_t pool_bytes_held();
std::size_t pool_peak_bytes();
void pool_reset_peak();
// The most bytes a pool hands out at once (default 4 GiB, for every thread's pool);
// allocations beyond it fail.
void pool_set_limit(std::size_t bytes);
std::size_t pool_limit();
// The limit of this thread's pool alone (0: the limit above), for the decode it runs now;
// returns the one it replaces.
std::size_t pool_set_thread_limit(std::size_t bytes);
// Whether an allocation of this thread was refused (for the limit, or because the system had
// no memory) since the flag was cleared.
bool pool_limit_reached();
void pool_clear_limit_reached();
// Large blocks given back are kept (up to 64 MiB a thread) for the next allocations of about
// their size, within the limit together with the blocks held; a thread's spares are freed when
// it ends, or here (at the end of a decode).
void pool_release_spares();
std::size_t pool_spare_bytes();
