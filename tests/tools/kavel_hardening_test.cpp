// The kavel tool against hostile and careless use: huge header-only files, signals, umask,
// long names, its own input as output, pictures that promise more than they hold, and the
// command-line conventions.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/child_process.h"
#include "tests/support/test_files.h"

namespace {

using kavel_test::TempDir;
namespace fs = std::filesystem;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs a shell command in which KAVEL stands for the tool.
Outcome shell(std::string command, const TempDir& dir) {
    for (std::size_t at; (at = command.find("KAVEL")) != std::string::npos;)
        command.replace(at, 5, KAVEL_TOOL);
    const std::string err_path = dir.path("stderr.txt");
    const kavel_test::CommandRun child =
        kavel_test::run_command("{ " + command + "; } 2>" + err_path);
    const auto err = kavel_test::read_bytes(err_path);
    return Outcome{child.exited ? child.status : -1, child.output,
                   std::string(err.begin(), err.end())};
}

// Virtual memory limit for commands whose memory must not follow the picture (address
// sanitizer builds reserve terabytes of address space, so there the limit is left out and
// only the results are checked).
std::string memory_limit(int megabytes) {
#ifdef KAVEL_SANITIZED
    (void)megabytes;
    return "";
#else
    return "ulimit -v " + std::to_string(megabytes * 1024) + "; ";
#endif
}

void put_be32(std::vector<uint8_t>* bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes->push_back(uint8_t(value >> shift));
}

// A 35-byte file of one level-0 subband without tiles: legal, and it decodes to any size.
std::vector<uint8_t> header_only(uint32_t planes, uint32_t width, uint32_t height) {
    std::vector<uint8_t> bytes = {'k', 'v', 'e', 'l', 0, 0, 0};
    for (const uint32_t value : {planes, 0u, width, height, 27u}) put_be32(&bytes, value);
    for (const int b : {0xFF, 0xAC, 0x00, 0x00}) bytes.push_back(uint8_t(b));
    put_be32(&bytes, 0);
    return bytes;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class KavelHardening : public testing::Test {
protected:
    void SetUp() override {
        grey_ = dir_.path("grey.kvl");
        kavel_test::write_file(kavel_test::random_file(1, 3, 70, 45, 1), grey_);
        // A 16 x 16 grey picture to encode.
        pgm_ = dir_.path("a.pgm");
        std::vector<uint8_t> pgm = {'P', '5', '\n', '1', '6', ' ', '1', '6', '\n',
                                    '2', '5', '5', '\n'};
        for (int i = 0; i < 256; ++i) pgm.push_back(uint8_t(i));
        kavel_test::write_bytes(pgm_, pgm);
    }
    TempDir dir_;
    std::string grey_, pgm_;
};

TEST_F(KavelHardening, HugeHeaderOnlyFilesDecodeInBoundedMemory) {
    kavel_test::write_bytes(dir_.path("wide.kvl"), header_only(1, 1u << 24, 16));
    kavel_test::write_bytes(dir_.path("line.kvl"), header_only(3, 2147483647u, 1));
    kavel_test::write_bytes(dir_.path("huge.kvl"), header_only(1, 2147483647u, 2147483647u));
    struct Case {
        std::string file, window;
        uint64_t bytes;
    };
    for (const Case& c : {Case{"wide.kvl", "0,0,16777215,1", uint64_t{1} << 25},
                          Case{"line.kvl", "2147000000,0,2147483646,0", 483647 * 3},
                          Case{"huge.kvl", "0,2147483000,4194303,2147483001", uint64_t{1} << 23}}) {
        const std::string out = dir_.path("o.raw");
        const Outcome r = shell(memory_limit(1000) + "KAVEL decode " + dir_.path(c.file) +
                                " --window " + c.window + " -o " + out,
                            dir_);
        EXPECT_EQ(r.status, 0) << c.file << ": " << r.err;
        EXPECT_EQ(fs::exists(out) ? fs::file_size(out) : 0, c.bytes) << c.file;
        fs::remove(out);
    }
    // The whole of the largest image: a warning first, then the failure to create the output.
    const Outcome r = shell("KAVEL decode " + dir_.path("huge.kvl") + " -o /nonexistent/o.raw", dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "warning: the output will hold")) << r.err;
}

TEST_F(KavelHardening, WindowsOutsideTheImageWarn) {
    const std::string out = dir_.path("w.raw");
    Outcome r = shell("KAVEL decode " + grey_ + " --window 1000,1000,1010,1010 -o " + out, dir_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "wholly outside the 70 x 45 image at scale 0")) << r.err;
    // A full-size window at scale 2 lies mostly outside the 18 x 12 image.
    r = shell("KAVEL decode " + grey_ + " --scale 2 --window 0,0,69,44 -o " + out, dir_);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.err, "of the window lies outside the 18 x 12 image")) << r.err;
    r = shell("KAVEL decode -q " + grey_ + " --scale 2 --window 0,0,69,44 -o " + out, dir_);
    EXPECT_EQ(r.err, "");
    r = shell("KAVEL decode " + grey_ + " --window 0,0,69,44 -o " + out, dir_);
    EXPECT_EQ(r.err, "");
}

TEST_F(KavelHardening, SignalsRemoveTheTemporaryFile) {
    const std::string huge = dir_.path("huge.kvl");
    kavel_test::write_bytes(huge, header_only(1, 2147483647u, 2147483647u));
    const std::string folder = dir_.path("out");
    fs::create_directory(folder);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string out = folder + "/o.raw";
        const pid_t child = fork();
        if (child == 0) {
            execl(KAVEL_TOOL, KAVEL_TOOL, "decode", "-q", huge.c_str(), "--threads", "1",
                  "--window", "0,0,65535,65535", "-o", out.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait for the temporary file to appear, then interrupt.
        bool started = false;
        for (int i = 0; i < 5000 && !started; ++i) {
            started = !fs::is_empty(folder);
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        kill(child, signal_number);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(started);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << signal_number;
        EXPECT_TRUE(fs::is_empty(folder)) << "signal " << signal_number << " left "
                                          << fs::directory_iterator(folder)->path();
        fs::remove_all(folder);
        fs::create_directory(folder);
    }
}

TEST_F(KavelHardening, OutputsHonourTheUmaskAndLongNames) {
    for (const auto& [mask, mode] : {std::pair{"077", 0600}, std::pair{"022", 0644}}) {
        const std::string out = dir_.path(std::string("m") + mask + ".pgm");
        const Outcome r = shell(std::string("umask ") + mask + "; KAVEL decode " + grey_ + " -o " + out,
                            dir_);
        ASSERT_EQ(r.status, 0) << r.err;
        struct stat status {};
        ASSERT_EQ(stat(out.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, unsigned(mode)) << "umask " << mask;
    }
    // A name of 255 characters, the longest a folder holds.
    const std::string name = std::string(251, 'n') + ".raw";
    const Outcome r = shell("KAVEL decode " + grey_ + " -o " + dir_.path(name), dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir_.path(name)));
}

TEST_F(KavelHardening, EncodeRefusesItsInputAndOtherFiles) {
    const auto before = kavel_test::read_bytes(pgm_);
    Outcome r = shell("KAVEL encode " + pgm_ + " " + pgm_, dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "is the input picture")) << r.err;
    r = shell("KAVEL encode " + pgm_ + " " + dir_.path(".") + "/a.pgm", dir_);  // same inode
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(kavel_test::read_bytes(pgm_), before);

    const std::string photo = dir_.path("photo.png");
    kavel_test::write_bytes(photo, {1, 2, 3});
    r = shell("KAVEL encode " + pgm_ + " " + photo, dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "is not a Kavel file (--force replaces it)")) << r.err;
    EXPECT_EQ(kavel_test::read_bytes(photo), (std::vector<uint8_t>{1, 2, 3}));
    r = shell("KAVEL encode -q --force " + pgm_ + " " + photo, dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    // A Kavel file is replaced without --force.
    r = shell("KAVEL encode -q " + pgm_ + " " + photo, dir_);
    EXPECT_EQ(r.status, 0) << r.err;

    r = shell("KAVEL encode " + pgm_ + " -o", dir_);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "unknown option '-o'")) << r.err;
    EXPECT_FALSE(fs::exists(dir_.path("-o")));
}

// A PNG chunk with its length and checksum.
void put_chunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data) {
    put_be32(png, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png->insert(png->end(), body.begin(), body.end());
    put_be32(png, uint32_t(crc32(0, body.data(), uInt(body.size()))));
}

TEST_F(KavelHardening, EncodeAllocatesOnlyForPixelsThatArrive) {
    // 19 bytes that promise 56755 x 56755 grey pixels (3.2 GB).
    const std::string ppm = dir_.path("short.pgm");
    const std::string header = "P5\n56755 56755\n255\n";
    kavel_test::write_bytes(ppm, std::vector<uint8_t>(header.begin(), header.end()));
    const std::string out = dir_.path("o.kvl");
    const std::string limit = memory_limit(400);
    for (const std::string& command :
         {limit + "KAVEL encode --max-pixels 3221225472 " + ppm + " " + out,
          limit + "cat " + ppm + " | KAVEL encode --max-pixels 3221225472 - " + out}) {
        const Outcome r = shell(command, dir_);
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(contains(r.err, "data ends early")) << r.err;
    }
    // 1 x 2147483647 grey PNG of a few dozen bytes.
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    put_be32(&ihdr, 1);
    put_be32(&ihdr, 2147483647u);
    for (const int b : {8, 0, 0, 0, 0}) ihdr.push_back(uint8_t(b));
    put_chunk(&png, "IHDR", ihdr);
    uint8_t rows[8] = {};
    uint8_t packed[64];
    uLongf packed_size = sizeof packed;
    compress(packed, &packed_size, rows, sizeof rows);
    put_chunk(&png, "IDAT", std::vector<uint8_t>(packed, packed + packed_size));
    put_chunk(&png, "IEND", {});
    kavel_test::write_bytes(dir_.path("tall.png"), png);
    Outcome r = shell(limit + "KAVEL encode --max-pixels 3221225472 " + dir_.path("tall.png") + " " +
                      out,
                  dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "broken PNG data at row 4 of 2147483647")) << r.err;
    // --max-pixels refuses before reading: the default, stated in the help, and a given one.
    r = shell("KAVEL encode " + ppm + " " + out, dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "(--max-pixels)")) << r.err;
    r = shell("KAVEL encode --max-pixels=255 " + pgm_ + " " + out, dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "has more than 255 pixels (--max-pixels)")) << r.err;
    EXPECT_TRUE(contains(shell("KAVEL encode --help", dir_).out, "--max-pixels N"));
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(KavelHardening, CommandLineConventions) {
    std::vector<uint8_t> expected;
    ASSERT_TRUE(kavel_test::decode_window(grey_, 1, 0, 0, 34, 22, &expected, 1));
    // --name=value, --name value, -oOUT, -o OUT and standard output all give the same bytes.
    for (const std::string& options : {std::string("--scale=1 --output=") + dir_.path("a.raw"),
                                       "--scale 1 -o" + dir_.path("a.raw"),
                                       "-v --scale 1 --format raw -o " + dir_.path("a.raw")}) {
        const Outcome r = shell("KAVEL decode " + grey_ + " " + options, dir_);
        EXPECT_EQ(r.status, 0) << options << ": " << r.err;
        EXPECT_EQ(kavel_test::read_bytes(dir_.path("a.raw")), expected) << options;
    }
    Outcome r = shell("cat " + grey_ + " | KAVEL decode - --scale 1 -o - --format raw", dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::vector<uint8_t>(r.out.begin(), r.out.end()), expected);
    r = shell("cat " + grey_ + " | KAVEL info -", dir_);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "standard input: 1 plane (grey), 3 levels")) << r.out;

    struct Case {
        std::string arguments, message;
    };
    for (const Case& c :
         {Case{"decode " + grey_ + " -o x.raw -x", "unknown option '-x'"},
          Case{"decode " + grey_ + " -o - ", "standard output needs --format"},
          Case{"decode " + grey_ + " -o x.png --png-level 10", "--png-level: 10 is out of range"},
          Case{"decode " + grey_ + " --scale", "--scale needs a value"},
          Case{"info --json=yes " + grey_, "--json takes no value"},
          Case{"encode " + pgm_ + " o.kvl --step 1e30", "--step: 1e30 is out of range"},
          Case{"encode " + pgm_ + " o.kvl --levels two", "--levels: 'two' is not an integer"}}) {
        r = shell("KAVEL " + c.arguments, dir_);
        EXPECT_EQ(r.status, 2) << c.arguments;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_TRUE(contains(r.err, "; see kavel --help\n")) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    for (const std::string command : {"--version", "decode --version", "info --version"}) {
        r = shell("KAVEL " + command, dir_);
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(contains(r.out, "kavel 1.")) << command;
    }
    // Piped input that is not a Kavel file is named as such, not as a reading problem.
    r = shell("echo hello | KAVEL decode - -o " + dir_.path("p.raw"), dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "standard input")) << r.err;
}

TEST_F(KavelHardening, InfoDescribesSeveralFilesAndTheirLayout) {
    const std::string colour = dir_.path("colour.kvl");
    kavel_test::write_file(kavel_test::random_file(3, 2, 33, 40, 2), colour);
    Outcome r = shell("KAVEL info --json " + grey_ + " " + colour, dir_);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    for (const char* key : {"\"file_size\": ", "\"bits_per_pixel\": ", "\"scales\": [",
                            "{\"scale\": 3, \"width\": 9, \"height\": 6}",
                            "\"subband\": 9, \"level\": 1, \"kind\": \"high-high\", \"width\": 35, "
                            "\"height\": 22, \"tiles\": 1",
                            "\"block_width\": 8", "\"steps\": [{\"min\": "}) {
        EXPECT_TRUE(contains(r.out, key)) << key;
    }
    r = shell("KAVEL info " + grey_ + " " + dir_.path("missing.kvl") + " " + colour, dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "scales: 0: 70 x 45, 1: 35 x 23")) << r.out;
    EXPECT_TRUE(contains(r.out, "subband 6 (level 1, high-high): 16 x 20, 1 tile of 16 x 20"))
        << r.out;
    EXPECT_TRUE(contains(r.err, "missing.kvl")) << r.err;
}

}  // namespace
