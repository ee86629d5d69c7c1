#include "tools/heap_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// The flags of the mapping of this process that holds address ("" when none does).
[[maybe_unused]] std::string mapping_flags(const void* address) {
    const auto at = reinterpret_cast<uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        uintptr_t first = 0, end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> first >> dash >> end && dash == '-') {
            inside = at >= first && at < end;
            continue;
        }
        if (inside && line.rfind("VmFlags:", 0) == 0) return line;
    }
    return "";
}

[[maybe_unused]] bool large_pages_offered() {
    std::ifstream enabled("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    return std::getline(enabled, modes) && modes.find("[never]") == std::string::npos;
}

}  // namespace

// After the call, the blocks of a few megabytes that the thread takes are carved from heap room
// offered to large pages, on the main thread as on another (which has a heap of its own);
// writing them whole works.
TEST(HeapSettings, LargeDecodeBlocksComeFromRoomMarkedForLargePages) {
    kavel_tools::keep_large_blocks_in_heap();
    constexpr std::size_t kRoom = std::size_t{48} << 20;
    constexpr std::size_t kBlock = std::size_t{8} << 20;
    kavel_tools::use_large_page_heap(kRoom);
    auto* here = static_cast<unsigned char*>(std::malloc(kBlock));
    unsigned char* there = nullptr;
    std::thread other([&] {
        kavel_tools::use_large_page_heap(kRoom);
        there = static_cast<unsigned char*>(std::malloc(kBlock));
    });
    other.join();
    ASSERT_NE(here, nullptr);
    ASSERT_NE(there, nullptr);
    std::memset(here, 1, kBlock);
    std::memset(there, 2, kBlock);
    EXPECT_EQ(here[kBlock - 1] + there[kBlock - 1], 3);
#if defined(KAVEL_SANITIZED) || !defined(__GLIBC__)
    // The sanitiser's allocator (or another C library's) takes no heap settings: the blocks
    // are only used.
    std::free(here);
    std::free(there);
#else
    if (large_pages_offered()) {
        // A point well inside each block lies past the first large-page boundary of the room.
        EXPECT_NE(mapping_flags(here + kBlock / 2).find(" hg"), std::string::npos)
            << mapping_flags(here + kBlock / 2);
        EXPECT_NE(mapping_flags(there + kBlock / 2).find(" hg"), std::string::npos)
            << mapping_flags(there + kBlock / 2);
    } else {
        EXPECT_EQ(mapping_flags(here + kBlock / 2).find(" hg"), std::string::npos);
    }
    std::free(here);
    std::free(there);
#endif
}
