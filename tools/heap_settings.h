// How the tool's heap serves large decodes.
#pragma once

#include <cstddef>

namespace kavel_tools {

// Blocks below kHeapMappingBytes come from the heap, and memory given back stays in it up to
// twice that: the strips of a large decode take and give back the same large blocks, which are
// then not mapped and faulted in afresh for every strip. Linux with glibc; elsewhere nothing.
constexpr std::size_t kHeapMappingBytes = std::size_t{256} << 20;
void keep_large_blocks_in_heap();

// The next `bytes` of the calling thread's heap (address space only: nothing is touched) are
// offered to the system's large pages (2 MiB): the blocks the thread takes then are faulted
// in a large page at a time instead of one 4 KiB page at a time, and where each fault is
// costly (on virtual machines) that is a sixth of a whole grey image's decode. Memory use is
// unchanged but for rounding to large pages, so it is meant for the threads of decodes whose
// output is a few megabytes or more. bytes must be below kThreadHeapBytes (a larger block
// would be mapped apart, not carved from the thread's heap). Linux with glibc, after
// keep_large_blocks_in_heap; elsewhere it does nothing.
constexpr std::size_t kThreadHeapBytes = std::size_t{64} << 20;
void use_large_page_heap(std::size_t bytes);

}  // namespace kavel_tools
