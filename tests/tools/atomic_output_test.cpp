// The output written under a temporary name: the bytes arrive whole and in order when parts go
// to the disk while it is written, a file replaced is synced and a new one not, and the
// destination keeps its old bytes until the commit (and for good without one).
#include "common/atomic_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace {

using kavel_test::read_bytes;

// 21 MB in pieces of odd sizes, so that the stream's buffer holds part of a piece whenever the
// file is handed to the disk; then commits when asked.
std::vector<uint8_t> write_through(const std::string& destination, bool commit, bool* replaces) {
    std::vector<uint8_t> bytes((21u << 20) + 12345);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>((i * 131) >> 7);
    kavel_common::AtomicOutput output(destination);
    output.start_writeback();  // nothing open yet: nothing happens
    std::string error;
    EXPECT_TRUE(output.open(&error)) << error;
    *replaces = output.replaces_a_file();
    constexpr std::size_t kPiece = (3 << 20) + 4093;
    for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, bytes.size() - at);
        EXPECT_EQ(std::fwrite(bytes.data() + at, 1, n, output.stream()), n);
        output.start_writeback();
    }
    EXPECT_FALSE(std::filesystem::exists(destination) && read_bytes(destination) == bytes);
    if (commit) {
        EXPECT_TRUE(output.commit(&error)) << error;
    }
    return bytes;
}

TEST(AtomicOutput, AReplacedFileIsSyncedAndHoldsTheWholeOutputInOrder) {
    kavel_test::TempDir dir;
    const std::string destination = dir.path("out.raw");
    kavel_test::write_bytes(destination, {1, 2, 3});
    bool replaces = false;
    write_through(destination, false, &replaces);
    EXPECT_EQ(read_bytes(destination), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_FALSE(kavel_test::temporary_outputs_in(dir.path("")));
    const std::vector<uint8_t> bytes = write_through(destination, true, &replaces);
    EXPECT_TRUE(replaces);
    EXPECT_EQ(read_bytes(destination), bytes);
    EXPECT_FALSE(kavel_test::temporary_outputs_in(dir.path("")));
}

TEST(AtomicOutput, ANewFileIsNotSynced) {
    kavel_test::TempDir dir;
    bool replaces = true;
    const std::vector<uint8_t> bytes = write_through(dir.path("new.raw"), true, &replaces);
    EXPECT_FALSE(replaces);
    EXPECT_EQ(read_bytes(dir.path("new.raw")), bytes);
}

}  // namespace
