// How the tool's heap serves large decodes.
#pragma once

#include <cstddef>

namespace kavel_tools {

// Blocks below kHeapMappingBytes come from the heap, and memory given back stays in it up to
// twice that: the strips of a large decode take and give back the same large blocks, which are
// then not mapped and faulted in afresh for every strip. Linux with glibc; elsewhere nothing.
constexpr std::size_t kHeapMappingBytes = std::size_t{256} << 20;
void keep_large_blocks_in_heap();

// From now on every thread allocates from the process's main heap, and the heap's next
// `bytes` (address space only: nothing is touched) are offered to the system's large pages
// (2 MiB). The blocks of a large decode are then faulted in a large page at a time instead
// of one 4 KiB page at a time; where each fault is costly (on virtual machines) that is a
// sixth of a whole grey image's decode. Memory use is unchanged but for rounding to large
// pages, so it is meant for decodes whose output is a few megabytes or more. bytes must be
// below kHeapMappingBytes (a larger block would be mapped apart, not carved from the heap).
// Linux with glibc; elsewhere it does nothing. Call it before the decode starts its threads.
void use_large_page_heap(std::size_t bytes);

}  // namespace kavel_tools
