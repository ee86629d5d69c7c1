// Inputs that once broke (or threatened) the reader, decoded the way the fuzzers decode them.
//
// Every NAME.kvl in this folder is a Kavel file (usually a damaged one): it is decoded at every
// scale through the public kavel::Image API, with the whole image (up to 512 x 512 pixels) and
// a few windows, plus the windows its NAME.txt lists on lines "decode: SCALE X0 Y0 X1 Y1"
// and those on lines "refuse: SCALE X0 Y0 X1 Y1", which must fail.
// Every NAME.bin is an input of the block harness (code table, block, window and block bytes,
// as fuzz/fuzz_inputs.h lays them out). NAME.txt says what the input attacks.
//
// A clean result is success, or failure with the pool empty and the caller's buffer untouched;
// the fast decoder and the reference decoder must agree on the verdict and on every byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decode/entropy_decoder.h"
#include "tests/support/reference/reference_decoder.h"
#include "format/byte_stream.h"
#include "format/kavel.h"
#include "format/pool.h"
#include "fuzz/fuzz_inputs.h"

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kUntouched = 0xA5;
constexpr int32_t kMaxSide = 512;

fs::path regression_dir() { return fs::path(KAVEL_REGRESSION_DIR); }

std::vector<std::string> inputs_with_extension(const std::string& extension) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(regression_dir(), error)) {
        if (entry.path().extension() == extension) names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> read_all(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string test_name(const testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

struct Request {
    int32_t scale;
    kavel::Window window;
};

// The windows a NAME.txt lists on lines that start with key ("decode:" windows to try,
// "refuse:" windows that must fail), as SCALE X0 Y0 X1 Y1.
std::vector<Request> listed_requests(const fs::path& notes, const std::string& key) {
    std::vector<Request> requests;
    std::ifstream in(notes);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) != 0) continue;
        std::istringstream fields(line.substr(key.size()));
        Request r{};
        if (fields >> r.scale >> r.window.x0 >> r.window.y0 >> r.window.x1 >> r.window.y1) {
            requests.push_back(r);
        }
    }
    return requests;
}

// The whole image (cut to kMaxSide), a window across the right and bottom edges (cut at the
// largest coordinate), one before the top-left corner and a single pixel in the middle.
std::vector<Request> standard_requests(const kavel::Image& image, int32_t scale) {
    const int32_t w = image.width_at(scale);
    const int32_t h = image.height_at(scale);
    const auto edge_end = [](int32_t size) {
        return static_cast<int32_t>(std::min<int64_t>(int64_t{size} + 3, INT32_MAX));
    };
    return {{scale, {0, 0, std::min(w, kMaxSide) - 1, std::min(h, kMaxSide) - 1}},
            {scale, {std::max(w, 4) - 4, std::max(h, 4) - 4, edge_end(w), edge_end(h)}},
            {scale, {-5, -5, 4, 4}},
            {scale, {w / 2, h / 2, w / 2, h / 2}}};
}

struct Outcome {
    bool decoded;
    std::vector<uint8_t> bytes;
};

Outcome decode_once(const kavel::Image& image, const Request& r, bool reference) {
    const int32_t planes = image.info().planes;
    const auto stride = static_cast<std::size_t>(r.window.columns() * planes);
    std::vector<uint8_t> buffer(stride * static_cast<std::size_t>(r.window.rows()), kUntouched);
    std::string error;
    testing::internal::CaptureStderr();
    const bool decoded = image.decode(r.scale, r.window, buffer.data(), stride, &error,
                                      reference ? reference_decoder() : nullptr);
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    // The pool is never asked to release what it does not hold.
    EXPECT_EQ(diagnostics.find("pointer not found"), std::string::npos)
        << (reference ? "reference" : "fast") << ": " << diagnostics;
    EXPECT_EQ(pool_block_count(), 0u) << (reference ? "reference" : "fast");
    if (!decoded) {
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(
            std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == kUntouched; }))
            << (reference ? "reference" : "fast")
            << " decoder touched the buffer of a failed decode";
    }
    return {decoded, std::move(buffer)};
}

class RegressionFile : public testing::TestWithParam<std::string> {};

TEST_P(RegressionFile, DecodesCleanlyAtEveryScale) {
    const fs::path path = regression_dir() / GetParam();
    std::string error;
    const auto image = kavel::Image::open(path.string(), &error);
    if (!image) {
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(pool_block_count(), 0u);
        return;
    }
    std::vector<Request> requests;
    for (int32_t scale = 0; scale <= image->info().levels; ++scale) {
        for (const Request& r : standard_requests(*image, scale)) requests.push_back(r);
    }
    requests.push_back({image->info().levels + 1, {0, 0, 0, 0}});  // absent: refused
    const fs::path notes = fs::path(path).replace_extension(".txt");
    for (const Request& r : listed_requests(notes, "decode:")) requests.push_back(r);
    const std::vector<Request> refused = listed_requests(notes, "refuse:");
    requests.insert(requests.end(), refused.begin(), refused.end());

    for (const Request& r : requests) {
        SCOPED_TRACE("scale " + std::to_string(r.scale) + " window " + std::to_string(r.window.x0) +
                     "," + std::to_string(r.window.y0) + ".." + std::to_string(r.window.x1) + "," +
                     std::to_string(r.window.y1));
        const Outcome fast = decode_once(*image, r, false);
        const Outcome reference = decode_once(*image, r, true);
        ASSERT_EQ(fast.decoded, reference.decoded);
        if (fast.decoded) {
            EXPECT_EQ(fast.bytes, reference.bytes);
        }
        const bool must_fail = r.scale > image->info().levels ||
                               std::any_of(refused.begin(), refused.end(), [&r](const Request& q) {
                                   return q.scale == r.scale && q.window.x0 == r.window.x0 &&
                                          q.window.y0 == r.window.y0 &&
                                          q.window.x1 == r.window.x1 && q.window.y1 == r.window.y1;
                               });
        if (must_fail) {
            EXPECT_FALSE(fast.decoded);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RegressionFile, testing::ValuesIn(inputs_with_extension(".kvl")),
                         test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RegressionFile);

// Decodes a block input with one decoder into a fresh zero-filled output.
int decode_block_input(const kavel_fuzz::BlockParameters& p, const std::vector<uint8_t>& bytes,
                       std::size_t start, bool reference, std::vector<int16_t>* output) {
    const std::vector<uint8_t> data(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end());
    const std::unique_ptr<ByteSource> source = make_memory_source(data.data(), data.size());
    if (source == nullptr) return -1;
    ByteStream opened(*source);
    ByteStream* stream = &opened;
    uint8_t counts[16];
    uint8_t symbols[256];
    std::copy(p.counts, p.counts + 16, counts);
    std::copy(p.symbols, p.symbols + 256, symbols);
    const CodeTable table{counts, symbols};
    const RegionRect block{p.x0, p.x0 + (p.width - 1), p.y0, p.y0 + (p.height - 1)};
    const RegionRect wanted{block.x0 + p.window_column,
                            block.x0 + p.window_column + (p.window_columns - 1),
                            block.y0 + p.window_row, block.y0 + p.window_row + (p.window_rows - 1)};
    output->assign(static_cast<std::size_t>(p.window_columns) * p.window_rows, 0);
    const int result = reference
                           ? decode_block_reference(stream, output->data(), table, block, wanted)
                           : decode_block(stream, output->data(), table, block, wanted);
    if (result == 0) {
        EXPECT_EQ(pool_block_count(), 0u) << (reference ? "reference" : "fast");
    }
    pool_free_all();
    return result;
}

class RegressionBlock : public testing::TestWithParam<std::string> {};

TEST_P(RegressionBlock, BothDecodersAgree) {
    const std::vector<uint8_t> bytes = read_all(regression_dir() / GetParam());
    kavel_fuzz::InputCursor in(bytes.data(), bytes.size());
    const kavel_fuzz::BlockParameters p = kavel_fuzz::parse_block_parameters(&in);
    const std::size_t start = bytes.size() - in.rest_size();
    std::vector<int16_t> fast, reference;
    const int fast_result = decode_block_input(p, bytes, start, false, &fast);
    const int reference_result = decode_block_input(p, bytes, start, true, &reference);
    ASSERT_NE(fast_result, -1);
    ASSERT_EQ(fast_result, reference_result);
    if (fast_result == 0) {
        EXPECT_EQ(fast, reference);
    }
}

INSTANTIATE_TEST_SUITE_P(Blocks, RegressionBlock, testing::ValuesIn(inputs_with_extension(".bin")),
                         test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RegressionBlock);

// Every reproducer says what it attacks.
TEST(RegressionFolder, EveryInputHasItsNotes) {
    std::vector<std::string> inputs = inputs_with_extension(".kvl");
    const std::vector<std::string> blocks = inputs_with_extension(".bin");
    inputs.insert(inputs.end(), blocks.begin(), blocks.end());
    ASSERT_FALSE(inputs.empty()) << "no reproducers in " << regression_dir();
    for (const std::string& name : inputs) {
        const fs::path notes = (regression_dir() / name).replace_extension(".txt");
        EXPECT_TRUE(fs::exists(notes)) << name << " has no " << notes.filename();
    }
}

}  // namespace
