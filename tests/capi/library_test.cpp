// The library as its users get it: the C header from C, the C++ wrapper, and a shared library
// that exports the C interface and nothing else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kavel/kavel.hpp"
#include "tests/capi/c_header_check.h"
#include "tests/capi/capi_files.h"
#include "tests/support/child_process.h"

namespace {

TEST(Library, ADecodeWrittenInCGivesTheBytesOfTheStraightforwardDecoder) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("c.kvl");
    capi_test::make_file(path, 3, 2, 90, 70, 12);
    unsigned char* pixels = nullptr;
    size_t size = 0;
    ASSERT_EQ(c_decode_whole(path.c_str(), &pixels, &size), 0);
    const std::vector<uint8_t> got(pixels, pixels + size);
    std::free(pixels);
    EXPECT_EQ(got, capi_test::reference_pixels(path, 0, kavel_window{0, 0, 89, 69}, 3, 270));
    EXPECT_EQ(c_decode_whole(dir.path("missing.kvl").c_str(), &pixels, &size), -1);
}

TEST(Library, TheCppWrapperDecodesAndThrowsTheStatus) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("cpp.kvl");
    const std::vector<uint8_t> bytes = capi_test::make_file(path, 1, 3, 77, 66, 13);
    const kavel::Image from_path = kavel::Image::open(path);
    const kavel::Image from_memory = kavel::Image::open_memory(std::span<const uint8_t>(bytes));
    EXPECT_EQ(from_path.info().width, 77);
    EXPECT_EQ(from_path.size_at(3).width, 10);
    const kavel::Window w = from_path.bounds_at(1);
    const std::vector<uint8_t> pixels = from_memory.decode(1, w, 2);
    EXPECT_EQ(pixels, capi_test::reference_pixels(path, 1, w, 1, 39));
    std::vector<uint8_t> small(10);
    try {
        from_path.decode(1, w, small);
        ADD_FAILURE() << "no exception for a short buffer";
    } catch (const kavel::Error& e) {
        EXPECT_EQ(e.status(), KAVEL_ERROR_ARGUMENT);
    }
    try {
        (void)kavel::Image::open(dir.path("nothing.kvl"));
        ADD_FAILURE() << "no exception for a missing file";
    } catch (const kavel::Error& e) {
        EXPECT_EQ(e.status(), KAVEL_ERROR_IO);
        EXPECT_NE(std::string(e.what()).find("nothing.kvl"), std::string::npos) << e.what();
    }
}

// The names a library defines, as nm lists them (one per line: address, type, name).
std::vector<std::string> defined_names(const std::string& arguments) {
    const kavel_test::CommandRun run =
        kavel_test::run_command("nm --defined-only " + arguments + " 2>&1");
    EXPECT_TRUE(run.exited && run.status == 0) << run.output;
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < run.output.size()) {
        std::size_t end = run.output.find('\n', start);
        if (end == std::string::npos) end = run.output.size();
        const std::string line = run.output.substr(start, end - start);
        const std::size_t space = line.rfind(' ');
        if (!line.empty()) names.push_back(space == std::string::npos ? line : line.substr(space + 1));
        start = end + 1;
    }
    return names;
}

#ifdef KAVEL_SHARED_LIBRARY
// Every symbol the shared library defines for its users is a kavel_ function.
TEST(Library, TheSharedLibraryExportsOnlyTheCInterface) {
    int kavel_functions = 0;
    for (const std::string& name : defined_names(std::string("-D '") + KAVEL_SHARED_LIBRARY + "'")) {
        EXPECT_EQ(name.rfind("kavel_", 0), 0u) << "exported: " << name;
        if (name.rfind("kavel_", 0) == 0) ++kavel_functions;
    }
    EXPECT_GE(kavel_functions, 14);
}
#endif

#ifdef KAVEL_STATIC_LIBRARY
// The straightforward decoder the tests compare with is built with the tests, never into the
// library users link: none of its functions (decode_block_reference, synthesise_node_reference,
// reference_decoder, ...) is defined there.
TEST(Library, TheLibraryHoldsNoStraightforwardDecoder) {
    const kavel_test::CommandRun run = kavel_test::run_command(
        std::string("nm --defined-only -C '") + KAVEL_STATIC_LIBRARY + "' 2>&1");
    ASSERT_TRUE(run.exited && run.status == 0) << run.output;
    EXPECT_NE(run.output.find("kavel_decode"), std::string::npos);
    for (const char* name : {"decode_block_reference(", "decode_tile_reference(",
                             "synthesise_node_reference(", "synthesise_line_reference(",
                             "reference_decoder()"}) {
        EXPECT_EQ(run.output.find(name), std::string::npos) << name;
    }
}
#endif

}  // namespace
