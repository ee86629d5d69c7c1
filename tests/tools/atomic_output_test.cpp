// The output written under a temporary name: the bytes arrive whole and in order when parts
// of the file go to the disk while it is still being written, a file replaced is synced and a
// new one not, and the destination keeps its old bytes until the commit (and for good when
// there is none).
#include "common/atomic_output.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;
using kavel_test::temporary_outputs_in;

// Pieces of odd sizes, so that the stream's buffer holds part of a piece whenever the file
// is handed to the disk.
std::vector<uint8_t> write_in_pieces(kavel_common::AtomicOutput& output, std::size_t total) {
    std::vector<uint8_t> bytes(total);
    for (std::size_t i = 0; i < total; ++i) bytes[i] = static_cast<uint8_t>((i * 131) >> 7);
    constexpr std::size_t kPiece = (3 << 20) + 4093;
    for (std::size_t at = 0; at < total; at += kPiece) {
        const std::size_t n = std::min(kPiece, total - at);
        EXPECT_EQ(std::fwrite(bytes.data() + at, 1, n, output.stream()), n);
        output.start_writeback();
    }
    return bytes;
}

TEST(AtomicOutput, PartsHandedToTheDiskEarlyLeaveTheWholeFileInOrder) {
    TempDir dir;
    const std::string destination = dir.path("out.raw");
    kavel_test::write_bytes(destination, {1, 2, 3});
    kavel_common::AtomicOutput output(destination);
    output.start_writeback();  // nothing open yet: nothing happens
    std::string error;
    ASSERT_TRUE(output.open(&error)) << error;
    EXPECT_TRUE(output.replaces_a_file());
    const std::vector<uint8_t> bytes = write_in_pieces(output, (40u << 20) + 12345);
    // Until the commit the destination holds what it held.
    EXPECT_EQ(kavel_test::read_bytes(destination), (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_TRUE(output.commit(&error)) << error;
    EXPECT_EQ(kavel_test::read_bytes(destination), bytes);
    EXPECT_FALSE(temporary_outputs_in(dir.path("")));
}

TEST(AtomicOutput, ANewFileIsNotSyncedAndHoldsTheWholeOutput) {
    TempDir dir;
    const std::string destination = dir.path("new.raw");
    kavel_common::AtomicOutput output(destination);
    std::string error;
    ASSERT_TRUE(output.open(&error)) << error;
    EXPECT_FALSE(output.replaces_a_file());
    const std::vector<uint8_t> bytes = write_in_pieces(output, (20u << 20) + 1);
    EXPECT_FALSE(std::filesystem::exists(destination));
    ASSERT_TRUE(output.commit(&error)) << error;
    EXPECT_EQ(kavel_test::read_bytes(destination), bytes);
    EXPECT_FALSE(temporary_outputs_in(dir.path("")));
}

TEST(AtomicOutput, AnOutputLeftUncommittedAfterPartsWentToTheDiskLeavesNothing) {
    TempDir dir;
    const std::string destination = dir.path("out.raw");
    kavel_test::write_bytes(destination, {7, 7});
    {
        kavel_common::AtomicOutput output(destination);
        std::string error;
        ASSERT_TRUE(output.open(&error)) << error;
        write_in_pieces(output, 20u << 20);
    }
    EXPECT_EQ(kavel_test::read_bytes(destination), (std::vector<uint8_t>{7, 7}));
    EXPECT_FALSE(temporary_outputs_in(dir.path("")));
}

}  // namespace
