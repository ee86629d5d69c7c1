// End-to-end tests of the kavel command: run it and compare its output with the library's.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun run(const std::string& arguments, const TempDir& dir) {
    const std::string err_path = dir.path("stderr.txt");
    const std::string command = std::string(KAVEL_TOOL) + " " + arguments + " 2>" + err_path;
    const kavel_test::CommandRun child = kavel_test::run_command(command);
    const auto err = kavel_test::read_bytes(err_path);
    return ToolRun{child.exited ? child.status : -1, child.output,
                   std::string(err.begin(), err.end())};
}

// Reads an 8-bit PNG into rows of bytes; returns channels (0 on failure).
int read_png(const std::string& path, int* width, int* height, std::vector<uint8_t>* pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return 0;
    const int channels = PNG_IMAGE_SAMPLE_CHANNELS(image.format);
    image.format = channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    pixels->resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels->data(), 0, nullptr)) return 0;
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return channels == 1 ? 1 : 3;
}

class KavelTool : public testing::Test {
  protected:
    void SetUp() override {
        grey_ = dir_.path("grey.kvl");
        colour_ = dir_.path("colour.kvl");
        kavel_test::write_file(kavel_test::random_file(1, 3, 70, 45, 1), grey_);
        kavel_test::write_file(kavel_test::random_file(3, 2, 33, 40, 2), colour_);
    }
    TempDir dir_;
    std::string grey_, colour_;
};

TEST_F(KavelTool, InfoInWordsAndJson) {
    ToolRun r = run("info " + colour_, dir_);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("3 planes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("33 x 40"), std::string::npos) << r.out;
    r = run("info --json " + grey_, dir_);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"planes\": 1, \"levels\": 3, \"width\": 70, \"height\": 45, "),
              std::string::npos)
        << r.out;
}

TEST_F(KavelTool, RawOutputHoldsExactlyTheDecodedBytes) {
    const std::string out = dir_.path("w.raw");
    ToolRun r = run("decode " + colour_ + " -o " + out + " --scale 1 --window -2,3,14,9", dir_);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(kavel_test::decode_window(colour_, 1, -2, 3, 14, 9, &expected, 3));
    EXPECT_EQ(kavel_test::read_bytes(out), expected);
    // Any number of decoding threads gives the same bytes.
    for (const char* threads : {"1", "3"}) {
        r = run("decode " + colour_ + " -o " + out + " --scale 1 --window -2,3,14,9 --threads " +
                    threads,
                dir_);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(kavel_test::read_bytes(out), expected) << threads << " threads";
    }
}

TEST_F(KavelTool, PngAndPgmHoldTheWholeImageAtAScale) {
    const std::string png = dir_.path("g.png");
    ASSERT_EQ(run("decode " + grey_ + " --scale 2 -o " + png, dir_).status, 0);
    std::vector<uint8_t> expected, pixels;
    ASSERT_TRUE(kavel_test::decode_window(grey_, 2, 0, 0, 17, 11, &expected, 1));
    int w = 0, h = 0;
    ASSERT_EQ(read_png(png, &w, &h, &pixels), 1);
    EXPECT_EQ(w, 18);
    EXPECT_EQ(h, 12);
    EXPECT_EQ(pixels, expected);

    const std::string ppm = dir_.path("c.ppm");
    ASSERT_EQ(run("decode " + colour_ + " -o " + ppm, dir_).status, 0);
    ASSERT_TRUE(kavel_test::decode_window(colour_, 0, 0, 0, 32, 39, &expected, 3));
    const auto bytes = kavel_test::read_bytes(ppm);
    const std::string header = "P6\n33 40\n255\n";
    ASSERT_EQ(bytes.size(), header.size() + expected.size());
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(header.size())), header);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                           bytes.begin() + static_cast<long>(header.size())));
}

TEST_F(KavelTool, FailuresNameTheFileAndLeaveNoOutput) {
    const std::string out = dir_.path("o.png");
    struct Case {
        std::string arguments;
        std::string mention;
    };
    kavel_test::write_bytes(dir_.path("text.kvl"), {'h', 'e', 'l', 'l', 'o'});
    const Case cases[] = {
        {"decode /nonexistent.kvl -o " + out, "/nonexistent.kvl"},
        {"decode " + dir_.path("text.kvl") + " -o " + out, "not a Kavel file"},
        {"decode " + grey_ + " --scale 4 -o " + out, "scale 4 is not present"},
        {"decode " + grey_ + " -o /nonexistent-dir/x.png", "/nonexistent-dir/x.png"},
    };
    for (const Case& c : cases) {
        const ToolRun r = run(c.arguments, dir_);
        EXPECT_NE(r.status, 0) << c.arguments;
        EXPECT_NE(r.err.find(c.mention), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // A file damaged in its data: the decode fails and no partial PNG is left.
    auto bytes = kavel_test::read_bytes(grey_);
    bytes.resize(bytes.size() - 40);
    kavel_test::write_bytes(dir_.path("cut.kvl"), bytes);
    const ToolRun r = run("decode " + dir_.path("cut.kvl") + " -o " + out, dir_);
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(kavel_test::temporary_outputs_in(dir_.path("")));
}

TEST_F(KavelTool, BadArgumentsPrintTheUsage) {
    for (const std::string& arguments :
         {"decode " + grey_ + " -o x.png --scale two",
          "decode " + grey_ + " -o x.png --window 1,2,3",
          "decode " + grey_ + " -o x.png --window 5,0,4,0", "decode " + grey_ + " -o x.tiff",
          "decode " + grey_ + " -o x.png --threads 0", std::string("frobnicate")}) {
        // One line that says what is wrong and where the help is.
        const ToolRun r = run(arguments, dir_);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_NE(r.err.find("see kavel --help"), std::string::npos) << arguments;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    const ToolRun help = run("decode --help", dir_);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--window X0,Y0,X1,Y1"), std::string::npos);
}

}  // namespace
