// plugin-host end to end: registration, the about box, and opening files through the module
// with the viewer dialog confirmed or cancelled at once.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/host/test_images.h"
#include "tests/support/child_process.h"

namespace {

struct HostRun {
    int status = -1;
    std::string output;  // standard output and standard error together
};

// Runs plugin-host with arguments, without a display (for at most a minute); the output is
// both streams, or with standardOutputOnly only the standard output.
HostRun PluginHost(const std::string& arguments, bool standardOutputOnly = false) {
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
        "-u KAVEL_DIALOG_ANSWER timeout 60 " KAVEL_PLUGIN_HOST " " +
        arguments + (standardOutputOnly ? " 2>/dev/null" : " 2>&1");
    const kavel_test::CommandRun child = kavel_test::run_command(command);
    return HostRun{child.exited ? child.status : -1, child.output};
}

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
    int32_t pixelsPerMetre = 0;
};

bool ReadPngFrom(FILE* file, Picture* picture) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    picture->width = png_get_image_width(png, info);
    picture->height = png_get_image_height(png, info);
    picture->channels = png_get_channels(png, info);
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
        picture->pixelsPerMetre = int32_t(x);
    }
    const size_t stride = png_get_rowbytes(png, info);
    picture->pixels.resize(stride * picture->height);
    for (uint32_t row = 0; row < picture->height; ++row) {
        png_read_row(png, picture->pixels.data() + row * stride, nullptr);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

Picture ReadPng(const std::string& path) {
    Picture picture;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return picture;
    if (!ReadPngFrom(file, &picture)) picture = Picture{};
    std::fclose(file);
    return picture;
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(PluginHostTest, ListShowsTheModulesRegistrationAndRefusesBrokenModules) {
    const HostRun good = PluginHost("list " KAVEL_PLUGIN_DIR);
    EXPECT_EQ(good.status, 0) << good.output;
    for (const char* expected : {"KAVEL.8bi", "8BIF", "Kavel", "ENTRYPOINT", "kvl", "can read",
                                 "32767 rows x 32767 columns"}) {
        EXPECT_NE(good.output.find(expected), std::string::npos) << expected << "\n" << good.output;
    }

    kavel_test::TempDir dir;
    kavel_test::write_bytes(dir.path("BROKEN.8bi"), {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    const HostRun broken = PluginHost("list " + dir.path("BROKEN.8bi"));
    EXPECT_NE(broken.status, 0);
    EXPECT_NE(broken.output.find("refused"), std::string::npos) << broken.output;
}

TEST(PluginHostTest, AboutPrintsTheBoxWithoutADisplay) {
    const HostRun run = PluginHost("about " KAVEL_PLUGIN_DIR "/KAVEL.8bi");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Brindle Kavel Plugin v1.0"), std::string::npos) << run.output;
}

// The accepted dialog of a 600 x 600 image reads it at 1:2 (300 x 300) whole: the
// largest listed ratio not beyond the saved scale 2 (which is the thumbnail scale).
void ExpectOpenMatchesLibrary(int32_t planes) {
    kavel_test::TempDir dir;
    const std::string file = MakeKavelFile(dir, "picture.kvl", planes, 3, 600, 600, 11);
    const std::string out = dir.path("picture.png");
    const HostRun run = PluginHost("open " + file + " -o " + out + " --accept");
    ASSERT_EQ(run.status, 0) << run.output;
    const Picture picture = ReadPng(out);
    ASSERT_EQ(picture.width, 300u);
    ASSERT_EQ(picture.height, 300u);
    ASSERT_EQ(picture.channels, planes);
    EXPECT_EQ(picture.pixelsPerMetre, 2835);  // 72 pixels per inch
    EXPECT_TRUE(LibraryDecode(file, 1, 0, 0, 299, 299, planes) == picture.pixels);
}

TEST(PluginHostTest, OpenGreyFileMatchesTheLibrarysDecode) { ExpectOpenMatchesLibrary(1); }

TEST(PluginHostTest, OpenColourFileMatchesTheLibrarysDecode) { ExpectOpenMatchesLibrary(3); }

TEST(PluginHostTest, FailedOrCancelledReadsLeaveNoFileAndSayWhy) {
    kavel_test::TempDir dir;
    const std::string file = MakeKavelFile(dir, "picture.kvl", 1, 3, 600, 600);
    const std::string out = dir.path("out.png");
    const struct {
        const char* options;
        const char* reason;
    } cases[] = {
        {"--cancel", "cancelled"},
        {"", "no display"},
        {"--accept --no-buffer-suite", "out of memory"},
        {"--accept --buffer-suite-version 3", "out of memory"},
        {"--accept --fail-allocation", "out of memory"},
        {"--accept --fail-advance-at 1", "stopped by the user"},
    };
    for (const auto& c : cases) {
        const HostRun run = PluginHost("open " + file + " -o " + out + " " + c.options);
        EXPECT_NE(run.status, 0) << c.options;
        EXPECT_NE(run.output.find(c.reason), std::string::npos) << c.options << "\n" << run.output;
        EXPECT_FALSE(Exists(out)) << c.options;
    }

    kavel_test::write_bytes(dir.path("junk.kvl"), {'j', 'u', 'n', 'k'});
    const HostRun junk = PluginHost("open " + dir.path("junk.kvl") + " -o " + out + " --accept");
    EXPECT_NE(junk.status, 0);
    EXPECT_NE(junk.output.find("This type of image is not supported, sorry."), std::string::npos)
        << junk.output;
    EXPECT_FALSE(Exists(out));

    const HostRun unknown =
        PluginHost("open " + dir.path("picture.png") + " -o " + out + " --accept");
    EXPECT_NE(unknown.status, 0);
    EXPECT_NE(unknown.output.find("no module"), std::string::npos) << unknown.output;

    const HostRun usage = PluginHost("open " + file + " -o " + out + " --fail-advance-at zero");
    EXPECT_EQ(usage.status, 2) << usage.output;
}

TEST(PluginHostTest, OptionsTakeTheirValueEitherWayAndMistakesAreNamed) {
    kavel_test::TempDir dir;
    const std::string file = MakeKavelFile(dir, "picture.kvl", 1, 3, 600, 600);
    const std::string out = dir.path("out.png");
    const HostRun equals = PluginHost("open " + file + " --output=" + out +
                                      " --plugins=" KAVEL_PLUGIN_DIR " --accept");
    EXPECT_EQ(equals.status, 0) << equals.output;
    EXPECT_EQ(ReadPng(out).width, 300u);
    // Every message goes to the standard error, the summary and refusals included.
    EXPECT_EQ(PluginHost("open " + file + " -o " + out + " --accept", true).output, "");
    kavel_test::write_bytes(dir.path("junk.kvl"), {'j', 'u', 'n', 'k'});
    EXPECT_EQ(PluginHost("open " + dir.path("junk.kvl") + " -o " + out + " --accept", true).output,
              "");

    const struct {
        const char* arguments;
        const char* named;
    } mistakes[] = {
        {"--fail-advance-at=zero", "'zero'"},        {"--fail-advance-at zero", "'zero'"},
        {"--bogus", "unknown option --bogus"},       {"-v", "unknown option -v"},
        {"--accept=yes", "--accept takes no value"}, {"--buffer-suite-version=99999", "'99999'"},
    };
    for (const auto& mistake : mistakes) {
        const HostRun run = PluginHost("open " + file + " -o " + out + " " + mistake.arguments);
        EXPECT_EQ(run.status, 2) << mistake.arguments;
        EXPECT_NE(run.output.find(mistake.named), std::string::npos) << run.output;
        // One line, and where the help is; not the whole help.
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 2) << run.output;
        EXPECT_NE(run.output.find("see plugin-host --help"), std::string::npos) << run.output;
    }
    const HostRun version = PluginHost("--version", true);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.output.rfind("plugin-host ", 0), 0u) << version.output;
}

TEST(PluginHostTest, TheModuleFolderTakesOnlyRegularFilesAndSkipsModulesThatFail) {
    kavel_test::TempDir dir;
    const std::string plugins = dir.path("plugins");
    std::filesystem::create_directory(plugins);
    std::vector<uint8_t> module = kavel_test::read_bytes(KAVEL_MODULE_PATH);
    kavel_test::write_bytes(plugins + "/KAVEL.8bi", module);
    // Sorts first: the same property list, but no program headers, so it cannot be loaded.
    ASSERT_GT(module.size(), 0x3Au);
    module[0x38] = module[0x39] = 0;
    kavel_test::write_bytes(plugins + "/A-broken.8bi", module);
    // A FIFO nobody writes to, and a large file that is no module at all (sparse).
    ASSERT_EQ(mkfifo((plugins + "/B-fifo.8bi").c_str(), 0600), 0);
    kavel_test::write_bytes(plugins + "/C-huge.8bi", {'j', 'u', 'n', 'k'});
    ASSERT_EQ(truncate((plugins + "/C-huge.8bi").c_str(), off_t(512) << 20), 0);

    const HostRun list = PluginHost("list " + plugins);
    EXPECT_EQ(list.status, 1) << list.output;  // one module refused
    EXPECT_EQ(list.output.find("B-fifo"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("C-huge.8bi: refused"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("KAVEL.8bi\n"), std::string::npos) << list.output;
    const HostRun fifo = PluginHost("list " + plugins + "/B-fifo.8bi");
    EXPECT_NE(fifo.output.find("not a regular file"), std::string::npos) << fifo.output;

    const std::string file = MakeKavelFile(dir, "picture.kvl", 3, 3, 600, 600);
    const std::string out = dir.path("out.png");
    const HostRun open =
        PluginHost("open " + file + " -o " + out + " --plugins " + plugins + " --accept");
    EXPECT_EQ(open.status, 0) << open.output;
    EXPECT_NE(open.output.find("skipping " + plugins + "/A-broken.8bi"), std::string::npos)
        << open.output;
    EXPECT_NE(open.output.find("skipping " + plugins + "/C-huge.8bi"), std::string::npos)
        << open.output;
    EXPECT_EQ(ReadPng(out).width, 300u);
}

}  // namespace
