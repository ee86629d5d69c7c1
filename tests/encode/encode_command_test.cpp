// `kavel encode` from the command line: its files, its settings and every bad input.
#include "tools/encode_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "format/kavel.h"
#include "tests/support/test_files.h"
#include "tools/picture_reader.h"

namespace {

struct CommandRun {
    int status;
    std::string out, err;
};

CommandRun encode(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "encode");
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = run_encode_command(static_cast<int>(arguments.size()), argv.data());
    CommandRun run{status, testing::internal::GetCapturedStdout(),
                   testing::internal::GetCapturedStderr()};
    return run;
}

int lines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

class EncodeCommand : public ::testing::Test {
  protected:
    std::string photo(const std::string& name) { return std::string(KAVEL_DATA_DIR) + "/" + name; }
    int files_in_dir() {
        int n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(root_)) ++n;
        return n;
    }
    // A bad input: status 1, one line on stderr, and no file (not even a temporary one).
    void expect_failure(const std::vector<std::string>& arguments, const std::string& words) {
        const int before = files_in_dir();
        const CommandRun run = encode(arguments);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(lines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
        EXPECT_EQ(files_in_dir(), before);
        EXPECT_FALSE(std::filesystem::exists(out_));
    }
    void expect_usage_error(const std::vector<std::string>& arguments) {
        const CommandRun run = encode(arguments);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_NE(run.err.find("see kavel --help"), std::string::npos) << run.err;
        EXPECT_EQ(lines(run.err), 1) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out_));
    }

    kavel_test::TempDir dir_;
    std::string out_ = dir_.path("out.kvl");
    std::string root_ = std::filesystem::path(out_).parent_path().string();
};

TEST_F(EncodeCommand, WritesAFileTheLibraryReads) {
    const CommandRun run = encode({photo("camera.png"), out_});
    ASSERT_EQ(run.status, 0) << run.err;
    // The summary is a message: on standard error, like every other.
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("512 x 512 grey, 4 levels"), std::string::npos) << run.err;
    std::string error;
    const auto image = kavel::Image::open(out_, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->info().planes, 1);
    EXPECT_EQ(image->info().levels, 4);
    std::vector<uint8_t> pixels(256 * 256);
    EXPECT_TRUE(image->decode(1, {0, 0, 255, 255}, pixels.data(), 256, &error)) << error;
}

TEST_F(EncodeCommand, SettingsReachTheFile) {
    ASSERT_EQ(encode({photo("astronaut.png"), out_, "--levels", "2", "--bpp", "0.75", "--tile",
                      "100", "--block", "20"})
                  .status,
              0);
    const auto image = kavel::Image::open(out_);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->info().planes, 3);
    EXPECT_EQ(image->info().levels, 2);
    const double bpp = double(std::filesystem::file_size(out_)) * 8 / (512.0 * 512.0);
    EXPECT_NEAR(bpp, 0.75, 0.04);

    ASSERT_EQ(encode({photo("astronaut.png"), out_, "--step", "30"}).status, 0);
    const auto coarse = std::filesystem::file_size(out_);
    ASSERT_EQ(encode({photo("astronaut.png"), out_, "--quality", "90"}).status, 0);
    EXPECT_GT(std::filesystem::file_size(out_), 4 * coarse);  // replaced atomically
    EXPECT_EQ(files_in_dir(), 1);

    // PGM / PPM input.
    kavel::Picture picture;
    std::string error;
    ASSERT_TRUE(kavel::read_picture(photo("chelsea.png"), &picture, &error));
    ASSERT_TRUE(kavel::write_pnm(dir_.path("in.ppm"), picture, &error));
    EXPECT_EQ(encode({dir_.path("in.ppm"), out_}).status, 0);
    std::filesystem::remove(dir_.path("in.ppm"));
}

TEST_F(EncodeCommand, EveryLayoutGivesTheSamePicture) {
    // The same codes in three orders: same size, other bytes, same pixels.
    std::vector<std::vector<uint8_t>> files, pixels;
    for (const char* layout : {"index-first", "by-place", "natural"}) {
        SCOPED_TRACE(layout);
        ASSERT_EQ(encode({photo("coffee.png"), out_, "--step", "12", "--layout", layout}).status, 0);
        files.push_back(kavel_test::read_bytes(out_));
        const auto image = kavel::Image::open(out_);
        ASSERT_TRUE(image);
        pixels.emplace_back(size_t(image->info().width) * size_t(image->info().height) * 3);
        EXPECT_TRUE(image->decode(0, {0, 0, image->info().width - 1, image->info().height - 1},
                                  pixels.back().data(), image->info().width * 3));
    }
    EXPECT_EQ(files[0].size(), files[2].size());
    EXPECT_NE(files[0], files[1]);
    EXPECT_NE(files[0], files[2]);
    EXPECT_EQ(pixels[0], pixels[1]);
    EXPECT_EQ(pixels[0], pixels[2]);
    std::filesystem::remove(out_);
    expect_usage_error({photo("coffee.png"), out_, "--layout", "sideways"});
}

TEST_F(EncodeCommand, HelpExplainsTheOptions) {
    const CommandRun run = encode({"--help"});
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--levels", "--quality", "--step", "--bpp", "--tile", "--block"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

TEST_F(EncodeCommand, BadInputGetsOneLineAndNoFile) {
    expect_failure({dir_.path("missing.png"), out_}, "cannot open");
    const std::string junk = dir_.path("junk.png");
    kavel_test::write_bytes(junk, {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    expect_failure({junk, out_}, "not a PNG");
    // A broken PNG: the photograph cut in half.
    std::vector<uint8_t> png = kavel_test::read_bytes(photo("camera.png"));
    png.resize(png.size() / 2);
    kavel_test::write_bytes(junk, png);
    expect_failure({junk, out_}, "PNG");
    // Too many levels for the picture.
    expect_failure({photo("camera.png"), out_, "--levels", "10"}, "too many");
    // Too large for the format, and too large to hold.
    const std::string header = "P5 3000000000 2 255\n";
    kavel_test::write_bytes(junk, std::vector<uint8_t>(header.begin(), header.end()));
    expect_failure({junk, out_}, "too large");
    const std::string big = "P6 65536 65536 255\n";
    kavel_test::write_bytes(junk, std::vector<uint8_t>(big.begin(), big.end()));
    expect_failure({junk, out_}, "too large");
    std::filesystem::remove(junk);
    // An output the system cannot write.
    const CommandRun run = encode({photo("camera.png"), dir_.path("no/such/dir/out.kvl")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines(run.err), 1) << run.err;
}

TEST_F(EncodeCommand, ExistingOutputSurvivesAFailure) {
    kavel_test::write_bytes(out_, {1, 2, 3});
    const CommandRun run = encode({photo("camera.png"), out_, "--levels", "12"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(kavel_test::read_bytes(out_), (std::vector<uint8_t>{1, 2, 3}));
    std::filesystem::remove(out_);
}

TEST_F(EncodeCommand, BadCommandLinesGetTheUsage) {
    const std::string in = photo("camera.png");
    expect_usage_error({});
    expect_usage_error({in});
    expect_usage_error({in, out_, "extra"});
    expect_usage_error({in, out_, "--quality", "0"});
    expect_usage_error({in, out_, "--quality", "101"});
    expect_usage_error({in, out_, "--quality", "7x"});
    expect_usage_error({in, out_, "--step", "-1"});
    expect_usage_error({in, out_, "--step", "nan"});
    expect_usage_error({in, out_, "--bpp", "0"});
    expect_usage_error({in, out_, "--bpp"});
    expect_usage_error({in, out_, "--levels", "-1"});
    expect_usage_error({in, out_, "--levels", "32"});
    expect_usage_error({in, out_, "--tile", "0"});
    expect_usage_error({in, out_, "--block", "65536"});
    expect_usage_error({in, out_, "--quality", "50", "--bpp", "1"});
    expect_usage_error({in, out_, "--speed", "3"});
}

}  // namespace
