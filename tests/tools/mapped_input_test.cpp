// The decode's input mapped into memory: its bytes in place, a fallback for what cannot be
// mapped, and a clean end (one line, no output left) when the file shrinks under the mapping.
#include "tools/mapped_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/atomic_output.h"
#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;
using kavel_test::temporary_outputs_in;

TEST(MappedInput, HoldsTheFilesBytesAfterItsPagesAreLetGo) {
    TempDir dir;
    std::vector<uint8_t> bytes(10000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    kavel_test::write_bytes(dir.path("in.kvl"), bytes);
    kavel_tools::MappedInput mapped;
    ASSERT_TRUE(mapped.map(dir.path("in.kvl"), "in.kvl"));
    EXPECT_EQ(std::vector<uint8_t>(mapped.bytes().begin(), mapped.bytes().end()), bytes);
    // Pages let go are read again from the file.
    mapped.release_pages();
    EXPECT_EQ(std::vector<uint8_t>(mapped.bytes().begin(), mapped.bytes().end()), bytes);
}

TEST(MappedInput, WhatCannotBeMappedIsLeftToTheFileReader) {
    TempDir dir;
    kavel_test::write_bytes(dir.path("empty.kvl"), {});
    for (const std::string name : {"empty.kvl", "missing.kvl", ""}) {
        kavel_tools::MappedInput mapped;
        EXPECT_FALSE(mapped.map(dir.path(name), name)) << name;
        EXPECT_TRUE(mapped.bytes().empty()) << name;
    }
}

// The process's resident pages, as the system counts them.
long resident_pages() {
    long size = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    const int read = std::fscanf(statm, "%ld %ld", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident : -1;
}

// Pages stay mapped until the pieces done since the last release have read kReleaseBytes.
TEST(MappedInput, PiecesDoneReleaseThePagesEveryFewMegabytes) {
    TempDir dir;
    const size_t size = 4 * size_t(kavel_tools::MappedInput::kReleaseBytes);
    kavel_test::write_bytes(dir.path("big.kvl"), std::vector<uint8_t>(size, 7));
    kavel_tools::MappedInput mapped;
    ASSERT_TRUE(mapped.map(dir.path("big.kvl"), "big.kvl"));
    volatile unsigned sum = 0;
    for (size_t i = 0; i < size; i += 4096) sum = sum + mapped.bytes()[i];
    const long pages = static_cast<long>(size) / ::sysconf(_SC_PAGESIZE);
    const long touched = resident_pages();
    ASSERT_GT(touched, pages);
    // A quarter of the file is kReleaseBytes: 9 pieces of 40 read less, 10 read that much.
    mapped.pieces_done(9, 40);
    EXPECT_GT(resident_pages(), touched - pages / 4);
    mapped.pieces_done(10, 40);
    EXPECT_LT(resident_pages(), touched - pages * 3 / 4);
    EXPECT_EQ(mapped.bytes()[size - 1], 7);
}

TEST(MappedInputDeathTest, AFileMadeShorterEndsTheProcessInOneLineWithoutOutput) {
    GTEST_FLAG_SET(death_test_style, "fast");  // the child writes in this test's folder
    TempDir dir;
    kavel_test::write_bytes(dir.path("in.kvl"), std::vector<uint8_t>(3 * 4096 + 5, 0x5A));
    EXPECT_EXIT(
        {
            kavel_common::AtomicOutput output(dir.path("out.raw"));
            std::string error;
            if (!output.open(&error)) std::_Exit(3);
            kavel_tools::MappedInput mapped;
            if (!mapped.map(dir.path("in.kvl"), "shown.kvl")) std::_Exit(4);
            if (::truncate(dir.path("in.kvl").c_str(), 0) != 0) std::_Exit(5);
            volatile uint8_t last = mapped.bytes()[mapped.bytes().size() - 1];
            std::_Exit(last == 0x5A ? 6 : 7);  // not reached: the page is gone
        },
        testing::ExitedWithCode(1),
        "^kavel decode: shown\\.kvl: the file cannot be read any more \\(it was made shorter, "
        "or reading it failed\\)\n$");
    EXPECT_FALSE(temporary_outputs_in(dir.path("")));
}

}  // namespace
