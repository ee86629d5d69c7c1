// FileWindow (a file's bytes at absolute offsets through a buffer of kSize bytes) and
// decode_block_into_at, which decodes a block through it: on the same bytes it must agree with
// decode_block_into on the stream in everything (verdict, symbols taken, every float stored and
// every cell left alone), wherever the block lies in the file and wherever the window's buffer
// happens to end.
#include "decode/file_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "decode/block_decoder.h"
#include "decode/dequantise.h"
#include "tests/decode/block_stream.h"

namespace {

constexpr int64_t kBuffer = FileWindow::kSize;

std::vector<uint8_t> random_bytes(std::mt19937& rng, int64_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(count));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// A source of count random bytes (from seed) that gives them out by copy, as a file does, and
// a window onto it.
struct WindowedFile {
    WindowedFile(unsigned seed, int64_t count)
        : bytes(seeded_bytes(seed, count)), file(bytes, false) {}
    static std::vector<uint8_t> seeded_bytes(unsigned seed, int64_t count) {
        std::mt19937 rng(seed);
        return random_bytes(rng, count);
    }
    const std::vector<uint8_t> bytes;
    BlockStream file;
    std::unique_ptr<FileWindow> window = std::make_unique<FileWindow>(file.source());
};

// The index of the first element where a and b differ (the shorter one's size if one is a
// prefix of the other), or -1 when they are equal.
template <typename T>
int64_t first_difference(const std::vector<T>& a, const std::vector<T>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0) return static_cast<int64_t>(i);
    }
    return a.size() == b.size() ? -1 : static_cast<int64_t>(n);
}

// Reads count bytes at offset and checks that the window gives the expected number of the
// file's bytes there.
void expect_read(FileWindow& window, const std::vector<uint8_t>& file, int64_t offset,
                 int32_t count, int32_t expected) {
    std::vector<uint8_t> out(static_cast<size_t>(count), 0xA5);
    const int32_t got = window.read(offset, out.data(), count);
    ASSERT_EQ(got, expected) << "read of " << count << " at " << offset;
    out.resize(static_cast<size_t>(got));
    const std::vector<uint8_t> want(file.begin() + offset, file.begin() + offset + got);
    EXPECT_EQ(first_difference(out, want), -1) << "read of " << count << " at " << offset;
}

// A read that must give nothing and leave the output alone.
void expect_nothing(FileWindow& window, int64_t offset, int32_t count = 64) {
    std::vector<uint8_t> out(static_cast<size_t>(std::max(count, 1)), 0xA5);
    EXPECT_EQ(window.read(offset, out.data(), count), 0) << "read at " << offset;
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xA5; }))
        << "read at " << offset;
}

TEST(FileWindow, ReadsOnAcrossTheEndOfItsBuffer) {
    WindowedFile f(1, 3 * kBuffer + 500);
    f.file.get()->seek(1234);

    // The first read fills the buffer from offset 0: a read over its end stops there, and the
    // next read goes on with the bytes that follow.
    expect_read(*f.window, f.bytes, 0, 100, 100);
    expect_read(*f.window, f.bytes, kBuffer - 10, 100, 10);
    expect_read(*f.window, f.bytes, kBuffer, 90, 90);
    // More than the buffer holds comes back as one buffer's worth (a read backwards fills the
    // buffer from before its offset: from the file's start here).
    expect_read(*f.window, f.bytes, 5, 2 * kBuffer, kBuffer - 5);

    // Reads of odd sizes, each going on where the last one stopped, give the whole file.
    std::vector<uint8_t> all;
    int64_t offset = 0;
    for (int reads = 0; reads < 1000; ++reads) {
        const int32_t count = 1000 + static_cast<int32_t>(offset % 777);
        std::vector<uint8_t> out(static_cast<size_t>(count));
        const int32_t got = f.window->read(offset, out.data(), count);
        ASSERT_GE(got, 0);
        ASSERT_LE(got, count);
        if (got == 0) break;
        all.insert(all.end(), out.begin(), out.begin() + got);
        offset += got;
    }
    EXPECT_EQ(offset, static_cast<int64_t>(f.bytes.size()));
    EXPECT_EQ(first_difference(all, f.bytes), -1);
    // None of it moved the stream.
    EXPECT_EQ(f.file.position(), 1234);
}

// A cursor over a window reads what a cursor over the stream reads: bytes in order from each
// seek, whole reads across the window's buffer end and longer than it, EOF at the end.
TEST(FileCursor, ThroughAWindowReadsWhatTheStreamReads) {
    WindowedFile f(7, 3 * kBuffer + 100);
    const int64_t size = static_cast<int64_t>(f.bytes.size());
    FileCursor through_stream(f.file.get());
    FileCursor through_window(f.file.get(), f.window.get());
    struct Step {
        int64_t seek;  // -1: go on from where the last step ended
        int64_t read;  // bytes to read with read(); 0: three get() calls
    };
    const Step steps[] = {{0, 0},   {-1, 20},      {kBuffer - 10, 30}, {-1, 2 * kBuffer},
                          {100, 0}, {size - 2, 0}, {size - 5, 10},     {5, kBuffer + 1},
                          {size, 0}};
    for (const Step& step : steps) {
        if (step.seek >= 0) {
            ASSERT_TRUE(through_stream.seek(step.seek));
            ASSERT_TRUE(through_window.seek(step.seek));
        }
        if (step.read == 0) {
            for (int i = 0; i < 3; ++i) EXPECT_EQ(through_window.get(), through_stream.get());
            continue;
        }
        std::vector<uint8_t> a(static_cast<size_t>(step.read), 1), b(a.size(), 2);
        const bool whole = through_stream.read(a.data(), step.read);
        ASSERT_EQ(through_window.read(b.data(), step.read), whole) << "at " << step.seek;
        if (whole) {
            EXPECT_EQ(first_difference(a, b), -1) << "at " << step.seek;
        }
    }
    EXPECT_FALSE(through_window.seek(-1));
    EXPECT_TRUE(through_window.read(nullptr, 0));
}

TEST(FileWindow, JumpsBackAndForthReadingEachPieceOnce) {
    WindowedFile f(2, 4 * kBuffer);
    struct Read {
        int64_t offset;
        int32_t count, expected;
        int64_t fetched;  // bytes taken from the source so far
    };
    // The file is kept in pieces of kSize bytes at multiples of kSize: a read is served up to
    // the end of its piece, and a piece is read from the source once, whatever the order.
    const Read reads[] = {
        {3 * kBuffer, 64, 64, kBuffer},                // far forwards
        {100, 64, 64, 2 * kBuffer},                    // far backwards
        {kBuffer - 1, 64, 1, 2 * kBuffer},             // the first piece's last byte
        {2 * kBuffer + 7, 64, 64, 3 * kBuffer},        // forwards again
        {3 * kBuffer + 500, 64, 64, 3 * kBuffer},      // back to a piece already read
        {2 * kBuffer + 100, 64, 64, 3 * kBuffer},      // and back again
        {2 * kBuffer - 1, 64, 1, 4 * kBuffer},         // the last piece not read yet
        {4 * kBuffer - 5, 64, 5, 4 * kBuffer},         // the file's last bytes
        {0, 64, 64, 4 * kBuffer},                      // and its first
    };
    for (const Read& r : reads) {
        expect_read(*f.window, f.bytes, r.offset, r.count, r.expected);
        EXPECT_EQ(f.window->bytes_fetched(), r.fetched) << "after the read at " << r.offset;
    }
}

TEST(FileWindow, PiecesBeyondWhatItKeepsAreReadAgain) {
    // Two pieces kChunks pieces apart take each other's place; every read still gives the
    // file's bytes, and a file longer than all the pieces kept is read whole in order.
    constexpr int64_t kKept = FileWindow::kChunks;
    WindowedFile f(9, (kKept + 2) * kBuffer);
    expect_read(*f.window, f.bytes, 10, 64, 64);
    expect_read(*f.window, f.bytes, kKept * kBuffer + 10, 64, 64);
    expect_read(*f.window, f.bytes, 20, 64, 64);
    EXPECT_EQ(f.window->bytes_fetched(), 3 * kBuffer);
    expect_read(*f.window, f.bytes, kKept * kBuffer + 20, 64, 64);
    EXPECT_EQ(f.window->bytes_fetched(), 4 * kBuffer);
    std::vector<uint8_t> out(static_cast<size_t>(kBuffer));
    for (int64_t offset = 0; offset < static_cast<int64_t>(f.bytes.size()); offset += kBuffer) {
        expect_read(*f.window, f.bytes, offset + 1, static_cast<int32_t>(kBuffer), kBuffer - 1);
    }
}

// A source that stops short where the ranges it holds end is read from each read's offset into
// one buffer, as before: a piece read from before the offset could stop before it.
TEST(FileWindow, SourceThatStopsShortIsReadFromTheOffset) {
    const std::vector<uint8_t> bytes = WindowedFile::seeded_bytes(10, 3 * kBuffer);
    const CopiedSource held(bytes, true);
    FileWindow window(held);
    expect_read(window, bytes, kBuffer + 100, 64, 64);  // the buffer holds [k + 100, 2k + 100)
    EXPECT_EQ(window.bytes_fetched(), kBuffer);
    expect_read(window, bytes, 2 * kBuffer + 50, 64, 50);  // up to the buffer's end
    EXPECT_EQ(window.bytes_fetched(), kBuffer);
    expect_read(window, bytes, 50, 64, 64);  // before it: read from the offset on
    EXPECT_EQ(window.bytes_fetched(), 2 * kBuffer);
}

TEST(FileWindow, ReadsNothingAtOrBeyondTheEndOrBeforeTheStart) {
    WindowedFile f(3, 2 * kBuffer + 10);
    const int64_t size = static_cast<int64_t>(f.bytes.size());
    expect_read(*f.window, f.bytes, size - 3 * kBuffer / 2, 64, 64);
    expect_read(*f.window, f.bytes, size - 8, 100, 8);  // in the last piece, up to the end
    for (int64_t offset : {size, size + 1, size + kBuffer, int64_t{1} << 40}) {
        expect_nothing(*f.window, offset);
    }
    for (int64_t offset : {int64_t{-1}, -kBuffer, std::numeric_limits<int64_t>::min()}) {
        expect_nothing(*f.window, offset);
    }
    expect_nothing(*f.window, 10, 0);
    // Reads in the file are served as before.
    expect_read(*f.window, f.bytes, size - 1, 10, 1);
    expect_read(*f.window, f.bytes, 7, 10, 10);
}

TEST(FileWindow, FileShorterThanTheBufferIsReadWhole) {
    WindowedFile f(4, 300);
    expect_read(*f.window, f.bytes, 0, static_cast<int32_t>(kBuffer), 300);
    expect_read(*f.window, f.bytes, 150, 1000, 150);
    expect_read(*f.window, f.bytes, 299, 10, 1);
    expect_nothing(*f.window, 300);
    expect_read(*f.window, f.bytes, 10, 5, 5);

    BlockStream empty(std::vector<uint8_t>{}, false);
    auto nothing = std::make_unique<FileWindow>(empty.source());
    expect_nothing(*nothing, 0);
}

// Bytes in memory are read in place: no buffer limits a read, and in_place points into them.
TEST(FileWindow, SourceInMemoryIsReadInPlace) {
    std::mt19937 rng(5);
    const std::vector<uint8_t> bytes = random_bytes(rng, 3 * kBuffer);
    BlockStream memory(bytes);
    FileWindow window(memory.source());
    expect_read(window, bytes, 10, 2 * kBuffer, 2 * kBuffer);
    expect_read(window, bytes, 3 * kBuffer - 7, 100, 7);
    expect_nothing(window, 3 * kBuffer);
    expect_nothing(window, -1);
    int64_t available = 0;
    const uint8_t* at = window.in_place(100, &available);
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(available, 3 * kBuffer - 100);
    EXPECT_EQ(std::memcmp(at, bytes.data() + 100, 16), 0);
    EXPECT_EQ(window.in_place(3 * kBuffer, &available), nullptr);
    EXPECT_EQ(window.bytes_fetched(), 0);
    // A source read by copy has nothing in place.
    BlockStream copied(bytes, false);
    EXPECT_EQ(FileWindow(copied.source()).in_place(0, &available), nullptr);
}

// A cursor over a source in memory takes its bytes where they stand: the same bytes as through
// a copy, the end at the source's end, and a read after a byte goes on from the next one.
TEST(FileCursor, OverASourceInMemoryReadsWhatACopyReads) {
    std::mt19937 rng(6);
    const std::vector<uint8_t> bytes = random_bytes(rng, 2 * kBuffer + 3);
    BlockStream memory(bytes);
    BlockStream copied(bytes, false);
    FileWindow in_memory(memory.source());
    FileWindow by_copy(copied.source());
    FileCursor a(nullptr, &in_memory);
    FileCursor b(nullptr, &by_copy);
    const int64_t size = static_cast<int64_t>(bytes.size());
    for (const int64_t at : {int64_t{0}, kBuffer - 1, size - 2}) {
        ASSERT_TRUE(a.seek(at));
        ASSERT_TRUE(b.seek(at));
        for (int i = 0; i < 3; ++i) {
            const int got = a.get();
            EXPECT_EQ(got, b.get()) << at << " + " << i;
            if (at + i < size) {
                EXPECT_EQ(got, bytes[static_cast<size_t>(at + i)]);
            } else {
                EXPECT_EQ(got, ByteStream::kEnd);
            }
        }
    }
    ASSERT_TRUE(a.seek(kBuffer - 1));
    EXPECT_EQ(a.get(), bytes[static_cast<size_t>(kBuffer - 1)]);
    uint8_t next[4] = {};
    ASSERT_TRUE(a.read(next, 4));
    EXPECT_EQ(std::memcmp(next, bytes.data() + kBuffer, 4), 0);
    EXPECT_EQ(a.position(), kBuffer + 4);
}

// --- Blocks decoded through the window -------------------------------------------------------

// A code table as a tile stream stores it, with the canonical code of each entry.
struct Code {
    std::array<uint8_t, 16> counts{};
    std::array<uint8_t, 256> symbols{};
    std::vector<uint32_t> codes;
    std::vector<int> lengths;
    CodeTable view() { return CodeTable{counts.data(), symbols.data()}; }
};

// A prefix code of about `entries` codes (leaves of a one-bit code split at random) over
// distinct random symbols; an incomplete one lacks a code, so that some bits decode to nothing.
Code random_code(std::mt19937& rng, int entries, bool complete) {
    std::vector<int> lengths{1, 1};
    while (static_cast<int>(lengths.size()) < entries) {
        const size_t i = rng() % lengths.size();
        if (lengths[i] == 16) continue;
        lengths[i] += 1;
        lengths.push_back(lengths[i]);
    }
    if (!complete) lengths.erase(lengths.begin() + static_cast<int64_t>(rng() % lengths.size()));
    std::sort(lengths.begin(), lengths.end());
    std::vector<int> symbols(256);
    std::iota(symbols.begin(), symbols.end(), 0);
    for (size_t i = 255; i > 0; --i) std::swap(symbols[i], symbols[rng() % (i + 1)]);
    Code c;
    uint32_t code = 0;
    int length = lengths[0];
    for (size_t k = 0; k < lengths.size(); ++k) {
        while (lengths[k] != length) {
            ++length;
            code <<= 1;
        }
        ++c.counts[static_cast<size_t>(length - 1)];
        c.symbols[k] = static_cast<uint8_t>(symbols[k]);
        c.codes.push_back(code++);
        c.lengths.push_back(length);
    }
    return c;
}

// Bits most significant first, a 0x00 stuffed after each 0xFF byte, the last byte padded
// with 1 bits.
class BitWriter {
  public:
    void put(uint32_t bits, int count) {
        for (int i = count - 1; i >= 0; --i) {
            byte_ = (byte_ << 1) | ((bits >> i) & 1u);
            if (++filled_ == 8) {
                bytes_.push_back(static_cast<uint8_t>(byte_));
                if (byte_ == 0xFF) bytes_.push_back(0x00);
                byte_ = 0;
                filled_ = 0;
            }
        }
    }
    std::vector<uint8_t> finish() {
        while (filled_ != 0) put(1, 1);
        return bytes_;
    }

  private:
    uint32_t byte_ = 0;
    int filled_ = 0;
    std::vector<uint8_t> bytes_;
};

// A block to decode, the window it is decoded into and the values the window should get.
struct BlockCase {
    std::unique_ptr<BlockDecoderTables> tables = std::make_unique<BlockDecoderTables>();
    RegionRect block{}, wanted{};
    DequantiseTable dequantise{};
    int64_t pitch = 0;
    std::vector<uint8_t> bytes;  // from 0xFF 0xA3 on
    std::vector<float> expected;
};

int64_t columns(const RegionRect& r) { return int64_t{r.x1} - r.x0 + 1; }
int64_t rows(const RegionRect& r) { return int64_t{r.y1} - r.y0 + 1; }

// The case of a block and window with the given code: tables, dequantisation, the expected
// window values from the block's coefficients (raster order).
BlockCase make_case(CodeTable table, RegionRect block, RegionRect wanted, float step,
                    int64_t pitch_extra, std::vector<uint8_t> bytes,
                    const std::vector<int16_t>& coefficients) {
    BlockCase c;
    EXPECT_EQ(build_block_decoder_tables(table, c.tables.get()), 0);
    c.block = block;
    c.wanted = wanted;
    make_dequantise_table(step, &c.dequantise);
    c.pitch = columns(wanted) + pitch_extra;
    c.bytes = std::move(bytes);
    for (int64_t y = wanted.y0; y <= wanted.y1; ++y) {
        for (int64_t x = wanted.x0; x <= wanted.x1; ++x) {
            const int16_t q =
                coefficients[static_cast<size_t>((y - block.y0) * columns(block) + (x - block.x0))];
            c.expected.push_back(q == 0 ? 0.0f : dequantise_one(q, c.dequantise));
        }
    }
    return c;
}

// A random block of width x height coded with code (mostly single values and short runs, so
// that its data is long), decoded into a random window of it (the whole block when whole).
BlockCase random_block(std::mt19937& rng, Code& code, int32_t width, int32_t height, bool whole) {
    const int64_t count = int64_t{width} * height;
    std::vector<int16_t> coefficients(static_cast<size_t>(count), 0);
    BitWriter bits;
    for (int64_t pos = 0; pos < count;) {
        const size_t k = rng() % code.codes.size();
        const int symbol = code.symbols[k];
        const bool value = (symbol >= 101 && symbol <= 104) || symbol >= 107;
        if (!value && rng() % 64 != 0) continue;
        bits.put(code.codes[k], code.lengths[k]);
        const int further = (symbol == 101 || symbol == 102 || symbol == 105)   ? 8
                            : (symbol == 103 || symbol == 104 || symbol == 106) ? 16
                                                                                : 0;
        // Runs of a coded length stay short.
        const auto extra = static_cast<uint32_t>(further == 0    ? 0
                                                 : symbol >= 105 ? rng() % 16
                                                                 : rng() % (1u << further));
        bits.put(extra, further);
        if (symbol >= 107) {
            coefficients[static_cast<size_t>(pos++)] = static_cast<int16_t>(symbol - 180);
        } else if (value) {
            const bool negative = symbol == 102 || symbol == 104;
            const auto magnitude = static_cast<uint16_t>(extra);
            coefficients[static_cast<size_t>(pos++)] =
                static_cast<int16_t>(negative ? static_cast<uint16_t>(0u - magnitude) : magnitude);
        } else {
            pos += symbol >= 105 ? extra : static_cast<uint32_t>(symbol);
        }
    }
    std::vector<uint8_t> bytes = {0xFF, 0xA3};
    const std::vector<uint8_t> data = bits.finish();
    bytes.insert(bytes.end(), data.begin(), data.end());
    const RegionRect block{100, 100 + width - 1, -40, -40 + height - 1};
    RegionRect wanted = block;
    if (!whole) {
        wanted.x0 = block.x0 + static_cast<int32_t>(rng() % static_cast<uint32_t>(width));
        wanted.x1 = wanted.x0 +
                    static_cast<int32_t>(rng() % static_cast<uint32_t>(block.x1 - wanted.x0 + 1));
        wanted.y0 = block.y0 + static_cast<int32_t>(rng() % static_cast<uint32_t>(height));
        wanted.y1 = wanted.y0 +
                    static_cast<int32_t>(rng() % static_cast<uint32_t>(block.y1 - wanted.y0 + 1));
    }
    const float step = 0.25f + static_cast<float>(rng() % 64) * 0.375f;
    return make_case(code.view(), block, wanted, step, rng() % 6, std::move(bytes), coefficients);
}

bool contains(const std::vector<uint8_t>& bytes, std::initializer_list<uint8_t> run) {
    return std::search(bytes.begin(), bytes.end(), run.begin(), run.end()) != bytes.end();
}

constexpr float kSentinel = -12345.5f;
constexpr int64_t kLead = 3;  // sentinel cells before the window's first cell

struct Decoded {
    int verdict = -1;
    int64_t symbols = 0;
    std::vector<float> area;
};

// The area a decode writes into: kLead cells, then the window's rows pitch floats apart, the
// last ending the area. The cells beyond each row's end hold the sentinel, the window's own
// cells another value that clearing replaces (or 0.0, as the decode needs, without clearing).
std::vector<float> fresh_area(const BlockCase& c, bool clear) {
    std::vector<float> area(
        static_cast<size_t>(kLead + (rows(c.wanted) - 1) * c.pitch + columns(c.wanted)), kSentinel);
    for (int64_t r = 0; r < rows(c.wanted); ++r) {
        std::fill_n(area.begin() + kLead + r * c.pitch, columns(c.wanted), clear ? 77.25f : 0.0f);
    }
    return area;
}

// Decodes the block at offset in the file both ways, the stream positioned at offset and
// through window, and checks that they agree in everything and that the window's reads leave
// the stream where it was. Gives the stream's decode.
Decoded expect_same_decode(ByteStream* stream, FileWindow* window, int64_t offset, const BlockCase& c,
                           bool clear = true) {
    Decoded from_stream, through_window;
    from_stream.area = fresh_area(c, clear);
    through_window.area = from_stream.area;
    EXPECT_TRUE(stream->seek(offset));
    from_stream.verdict =
        decode_block_into(stream, *c.tables, c.block, c.wanted, c.dequantise,
                          from_stream.area.data() + kLead, c.pitch, clear, &from_stream.symbols);
    const long position = stream->tell();
    through_window.verdict = decode_block_into_at(window, offset, *c.tables, c.block, c.wanted,
                                                  c.dequantise, through_window.area.data() + kLead,
                                                  c.pitch, clear, &through_window.symbols);
    EXPECT_EQ(stream->tell(), position);

    EXPECT_EQ(through_window.verdict, from_stream.verdict) << "block at " << offset;
    EXPECT_EQ(through_window.symbols, from_stream.symbols) << "block at " << offset;
    EXPECT_EQ(first_difference(through_window.area, from_stream.area), -1) << "block at " << offset;
    int64_t outside_changed = 0;
    for (size_t i = 0; i < through_window.area.size(); ++i) {
        const int64_t cell = static_cast<int64_t>(i) - kLead;
        const bool outside = cell < 0 || cell % c.pitch >= columns(c.wanted);
        if (outside && through_window.area[i] != kSentinel) ++outside_changed;
    }
    EXPECT_EQ(outside_changed, 0) << "block at " << offset;
    return from_stream;
}

// Checks that a decode stored the case's expected values in its window.
void expect_window_values(const BlockCase& c, const Decoded& d) {
    ASSERT_EQ(d.verdict, 0);
    std::vector<float> window;
    for (int64_t r = 0; r < rows(c.wanted); ++r) {
        const auto row = d.area.begin() + kLead + r * c.pitch;
        window.insert(window.end(), row, row + columns(c.wanted));
    }
    EXPECT_EQ(first_difference(window, c.expected), -1);
}

// Places bytes at offset in file, with random filler before.
void place(std::mt19937& rng, std::vector<uint8_t>* file, int64_t offset,
           const std::vector<uint8_t>& bytes) {
    ASSERT_GE(offset, static_cast<int64_t>(file->size()));
    const std::vector<uint8_t> filler =
        random_bytes(rng, offset - static_cast<int64_t>(file->size()));
    file->insert(file->end(), filler.begin(), filler.end());
    file->insert(file->end(), bytes.begin(), bytes.end());
}

// A window whose buffer holds the file from offset 0 on (when it is long enough), so that its
// end lies at kBuffer.
std::unique_ptr<FileWindow> window_from_start(ByteStream* stream) {
    auto window = std::make_unique<FileWindow>(stream->source());
    uint8_t byte = 0;
    EXPECT_EQ(window->read(0, &byte, 1), 1);
    return window;
}

TEST(DecodeBlockIntoAt, AgreesWithTheStreamWhereverTheBlockLies) {
    std::mt19937 rng(11);
    struct Placed {
        int64_t offset;
        BlockCase c;
        bool truncated;
    };
    std::vector<Placed> blocks;
    std::vector<uint8_t> file;
    // Small blocks near the start, a long one over the end of the first buffer, one right
    // after it (its 0xFF 0xA3 is the marker that ends the long block's data), one starting a
    // byte before 3 * kBuffer, and last a whole-window block cut in half by the end of the file.
    const struct {
        int64_t offset;  // -1: right after the previous block
        int32_t width, height;
        bool whole, truncated;
    } layout[] = {{0, 8, 8, false, false},
                  {700, 32, 16, false, false},
                  {kBuffer - 40, 256, 64, false, false},
                  {-1, 16, 16, true, false},
                  {3 * kBuffer - 1, 64, 32, false, false},
                  {3 * kBuffer + 4000, 64, 64, true, true}};
    for (const auto& l : layout) {
        Code code = random_code(rng, 3 + static_cast<int>(rng() % 40), true);
        BlockCase c = random_block(rng, code, l.width, l.height, l.whole);
        if (l.truncated) c.bytes.resize(c.bytes.size() / 2);
        const int64_t offset = l.offset < 0 ? static_cast<int64_t>(file.size()) : l.offset;
        place(rng, &file, offset, c.bytes);
        blocks.push_back({offset, std::move(c), l.truncated});
    }
    // The long block's data goes well beyond the first buffer and holds stuffed bytes.
    ASSERT_GT(static_cast<int64_t>(blocks[2].c.bytes.size()), 8000);
    ASSERT_TRUE(contains(blocks[2].c.bytes, {0xFF, 0x00}));
    BlockStream stream(file, false);

    auto check = [&](FileWindow* window, const Placed& b) {
        SCOPED_TRACE(b.offset);
        const Decoded d = expect_same_decode(stream.get(), window, b.offset, b.c);
        if (b.truncated) {
            EXPECT_EQ(d.verdict, 1);
        } else {
            expect_window_values(b.c, d);
        }
    };
    // One window for the blocks in file order, then in reverse order.
    auto window = std::make_unique<FileWindow>(stream.source());
    for (const Placed& b : blocks) check(window.get(), b);
    for (auto b = blocks.rbegin(); b != blocks.rend(); ++b) check(window.get(), *b);
    // A fresh window for each.
    for (const Placed& b : blocks) check(std::make_unique<FileWindow>(stream.source()).get(), b);
}

TEST(DecodeBlockIntoAt, EveryCutOfABlockAtTheEndOfTheFileAgrees) {
    std::mt19937 rng(12);
    Code code = random_code(rng, 12, true);
    const BlockCase c = random_block(rng, code, 32, 12, true);
    ASSERT_GT(c.bytes.size(), 100u);
    // The block starts shortly before the end of the buffer, so that longer cuts cross it.
    const int64_t offset = kBuffer - 60;
    for (size_t cut = 0; cut <= c.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> file;
        place(rng, &file, offset, std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + cut));
        BlockStream stream(file, false);
        const Decoded d =
            expect_same_decode(stream.get(), window_from_start(stream.get()).get(), offset, c);
        // The whole window needs every bit of the block.
        if (cut == c.bytes.size()) {
            expect_window_values(c, d);
        } else {
            EXPECT_EQ(d.verdict, 1);
        }
    }
}

// Blocks with a stuffed 0xFF 0x00 on the code path and on the magnitude path, and with a
// marker that the magnitude path reads again, at every split over the end of the buffer.
TEST(DecodeBlockIntoAt, StuffedBytesAndMarkersSplitAtTheBufferEnd) {
    std::mt19937 rng(13);
    struct Crafted {
        std::vector<uint8_t> counts, symbols, bytes;
        int32_t width;
        std::vector<int16_t> values;
    };
    const std::vector<int16_t> ones_and_zeros = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0,
                                                 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const Crafted crafted[] = {
        // 0 = value 0, 1 = +1: the stuffed byte is eight 1 bits.
        {{2}, {180, 181}, {0xFF, 0xA3, 0xFF, 0x00, 0x0F, 0xFF, 0x00}, 24, ones_and_zeros},
        // 0 = +16-bit magnitude, 1 = +1: 0 | 0000000 11111111 1 | 1 | padding.
        {{2}, {103, 181}, {0xFF, 0xA3, 0x00, 0xFF, 0x00, 0xFF, 0x00}, 2, {511, 1}},
        // 00 = 0, 01 = +1, 100 = +8-bit magnitude, 101 = run of 5: 100 then the magnitude's
        // bits 11111 and the 0xFF of the marker, read again: 255.
        {{0, 2, 2}, {180, 181, 101, 5}, {0xFF, 0xA3, 0x9F, 0xFF, 0xD0}, 1, {255}},
    };
    for (const Crafted& k : crafted) {
        Code code;
        std::copy(k.counts.begin(), k.counts.end(), code.counts.begin());
        std::copy(k.symbols.begin(), k.symbols.end(), code.symbols.begin());
        const RegionRect block{-7, -7 + k.width - 1, 3, 3};
        const BlockCase c = make_case(code.view(), block, block, 1.5f, 2, k.bytes, k.values);
        for (int64_t split = 0; split <= static_cast<int64_t>(k.bytes.size()); ++split) {
            SCOPED_TRACE(split);
            std::vector<uint8_t> file;
            place(rng, &file, kBuffer - split, k.bytes);
            place(rng, &file, static_cast<int64_t>(file.size()) + 5, {0xFF, 0xD9});
            BlockStream stream(file, false);
            const Decoded d = expect_same_decode(
                stream.get(), window_from_start(stream.get()).get(), kBuffer - split, c);
            expect_window_values(c, d);
        }
    }
}

TEST(DecodeBlockIntoAt, MarkerAnywhereInTheDataAgrees) {
    std::mt19937 rng(14);
    Code code = random_code(rng, 20, true);
    const BlockCase c = random_block(rng, code, 16, 16, true);
    const uint8_t second[] = {0xD0, 0xA3, 0xFF, 0x01};
    for (size_t at = 2; at <= c.bytes.size(); ++at) {
        SCOPED_TRACE(at);
        BlockCase marked;
        marked.block = c.block;
        marked.wanted = c.wanted;
        marked.dequantise = c.dequantise;
        marked.pitch = c.pitch;
        *marked.tables = *c.tables;
        marked.bytes = c.bytes;
        marked.bytes.insert(marked.bytes.begin() + static_cast<int64_t>(at),
                            {0xFF, second[at % 4]});
        // The marker's 0xFF is the last byte of a window read from the start.
        const int64_t offset = kBuffer - 1 - static_cast<int64_t>(at);
        std::vector<uint8_t> file;
        place(rng, &file, offset, marked.bytes);
        BlockStream stream(file, false);
        const Decoded d =
            expect_same_decode(stream.get(), window_from_start(stream.get()).get(), offset, marked);
        expect_same_decode(stream.get(), std::make_unique<FileWindow>(stream.source()).get(), offset,
                           marked);
        // Right after 0xFF 0xA3 it makes an empty block; after the data it is the marker that
        // ends every block, and the block decodes as coded.
        if (at == 2) {
            EXPECT_EQ(d.symbols, 0);
        }
        if (at == c.bytes.size()) expect_window_values(c, d);
    }
}

// 0xFF 0xA3 and then a marker: a block without coefficients, whichever byte the buffer ends
// after; cut before the marker's second byte it fails.
TEST(DecodeBlockIntoAt, LeadingMarkerMeansNoCoefficients) {
    std::mt19937 rng(15);
    Code code = random_code(rng, 6, true);
    const RegionRect block{0, 9, 0, 4};
    const RegionRect wanted{2, 6, 1, 3};
    const BlockCase c = make_case(code.view(), block, wanted, 2.0f, 1, {0xFF, 0xA3, 0xFF, 0xD9},
                                  std::vector<int16_t>(50, 0));
    for (int64_t split = 0; split <= 4; ++split) {
        for (bool clear : {true, false}) {
            SCOPED_TRACE(testing::Message() << "split " << split << (clear ? ", clear" : ""));
            std::vector<uint8_t> file;
            place(rng, &file, kBuffer - split, c.bytes);
            place(rng, &file, kBuffer + 10, {0xFF, 0xA3});
            BlockStream stream(file, false);
            const Decoded d = expect_same_decode(
                stream.get(), window_from_start(stream.get()).get(), kBuffer - split, c, clear);
            expect_window_values(c, d);
            EXPECT_EQ(d.symbols, 0);
        }
    }
    for (size_t cut = 0; cut < c.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> file;
        place(rng, &file, 40, std::vector<uint8_t>(c.bytes.begin(), c.bytes.begin() + cut));
        BlockStream stream(file, false);
        const Decoded d = expect_same_decode(
            stream.get(), std::make_unique<FileWindow>(stream.source()).get(), 40, c);
        EXPECT_EQ(d.verdict, 1);
    }
}

// Random codes (some incomplete) on random bytes with markers, stuffed bytes and bad starts,
// placed over the end of the buffer or anywhere.
TEST(DecodeBlockIntoAt, AgreesOnArbitraryBytes) {
    std::mt19937 rng(16);
    int64_t verdicts[2] = {0, 0};
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        Code code = random_code(rng, 3 + static_cast<int>(rng() % 30), rng() % 4 != 0);
        const int32_t width = 1 + static_cast<int32_t>(rng() % 64);
        const int32_t height = 1 + static_cast<int32_t>(rng() % 64);
        std::vector<int16_t> none(static_cast<size_t>(width) * height, 0);
        const RegionRect block{0, width - 1, 0, height - 1};
        RegionRect wanted = block;
        wanted.x0 = static_cast<int32_t>(rng() % static_cast<uint32_t>(width));
        wanted.y0 = static_cast<int32_t>(rng() % static_cast<uint32_t>(height));

        std::vector<uint8_t> bytes;
        if (rng() % 10 != 0) bytes = {0xFF, 0xA3};
        const int64_t length = rng() % 400;
        for (int64_t i = 0; i < length; ++i) {
            if (rng() % 16 == 0) {
                bytes.push_back(0xFF);
                bytes.push_back(rng() % 2 == 0 ? 0x00 : static_cast<uint8_t>(rng()));
            } else {
                bytes.push_back(static_cast<uint8_t>(rng()));
            }
        }
        const BlockCase c = make_case(code.view(), block, wanted, 0.5f, rng() % 4, bytes, none);
        const bool straddle = rng() % 2 == 0;
        const int64_t offset = straddle ? kBuffer - static_cast<int64_t>(rng() % 64)
                                        : static_cast<int64_t>(rng() % 3000);
        std::vector<uint8_t> file;
        place(rng, &file, offset, c.bytes);
        if (rng() % 2 == 0) place(rng, &file, static_cast<int64_t>(file.size()) + 20, {});
        BlockStream stream(file, false);
        auto window =
            straddle ? window_from_start(stream.get()) : std::make_unique<FileWindow>(stream.source());
        const Decoded d = expect_same_decode(stream.get(), window.get(), offset, c);
        if (d.verdict == 0 || d.verdict == 1) ++verdicts[d.verdict];
    }
    // Both outcomes are compared often enough to mean something.
    EXPECT_GT(verdicts[0], 40);
    EXPECT_GT(verdicts[1], 40);
}

}  // namespace
