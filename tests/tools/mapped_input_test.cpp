// The decode's input mapped into memory: its bytes in place, a fallback for what cannot be
// mapped, and a clean end (one line, no output left) when the file shrinks under the mapping.
#include "tools/mapped_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/atomic_output.h"
#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;

TEST(MappedInput, HoldsTheFilesBytes) {
    TempDir dir;
    std::vector<uint8_t> bytes(10000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    kavel_test::write_bytes(dir.path("in.kvl"), bytes);
    kavel_tools::MappedInput mapped;
    ASSERT_TRUE(mapped.map(dir.path("in.kvl"), "in.kvl"));
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

bool temporary_outputs_in(const std::string& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind(".kavel-", 0) == 0) return true;
    }
    return false;
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
