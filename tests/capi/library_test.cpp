// The library as its users get it: the C header from C, the C++ wrapper, and a shared library
// that exports the C interface and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kavel/kavel.hpp"
#include "tests/capi/c_header_check.h"
#include "tests/capi/capi_files.h"

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

#ifdef KAVEL_SHARED_LIBRARY
// Every symbol the shared library defines for its users is a kavel_ function.
TEST(Library, TheSharedLibraryExportsOnlyTheCInterface) {
    const std::string command =
        std::string("nm -D --defined-only '") + KAVEL_SHARED_LIBRARY + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::size_t space = text.rfind(' ');
        exported.push_back(space == std::string::npos ? text : text.substr(space + 1));
    }
    ASSERT_EQ(pclose(pipe), 0);
    int kavel_functions = 0;
    for (const std::string& name : exported) {
        EXPECT_EQ(name.rfind("kavel_", 0), 0u) << "exported: " << name;
        if (name.rfind("kavel_", 0) == 0) ++kavel_functions;
    }
    EXPECT_GE(kavel_functions, 14);
}
#endif

}  // namespace
