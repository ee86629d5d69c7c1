#include "tools/common/png_stream_writer.h"

#include "tools/common/literal_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace kavel_output {

namespace {

constexpr std::size_t kPieceBytes = std::size_t{1} << 20;  // picture bytes per piece

enum Filter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kPaeth = 4 };

// One piece of the picture on its way through a compressing thread.
struct Piece {
    std::vector<uint8_t> input;  // the picture's bytes of the piece
    std::vector<uint8_t> above;  // the row above the first row (whole-row pieces)
    uint8_t carry[3] = {};       // the pixel before the segment (pieces within a row)
    bool starts_row = true;
    bool last = false;
    std::unique_ptr<uint8_t[]> output;  // raw deflate data
    std::size_t output_size = 0;
    uLong adler = 1;
    uint64_t filtered_bytes = 0;
    bool done = false;
    bool failed = false;
};

void put_be32(uint8_t* at, uint32_t value) {
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

// The Paeth predictor, written without branches so that the loop over a row vectorises.
inline uint8_t paeth(uint8_t a, uint8_t b, uint8_t c) {
    const int16_t pa = int16_t(std::abs(int16_t(b) - int16_t(c)));
    const int16_t pb = int16_t(std::abs(int16_t(a) - int16_t(c)));
    const int16_t pc = int16_t(std::abs(int16_t(a) + int16_t(b) - 2 * int16_t(c)));
    const uint8_t b_or_c = pb <= pc ? b : c;
    return (pa <= pb && pa <= pc) ? a : b_or_c;
}

// Filters one row (or the segment of a row) into out, after its filter byte when it starts
// a row. prior is the row above (zeros for the first row); left the pixel before the segment.
void filter_row(Filter filter, const uint8_t* row, const uint8_t* prior, const uint8_t* left,
                std::size_t bytes, int bpp, uint8_t* out) {
    const std::size_t n = bytes;
    const std::size_t b = std::size_t(bpp);
    switch (filter) {
        case kNone:
            std::copy(row, row + n, out);
            break;
        case kSub:
            for (std::size_t i = 0; i < std::min(b, n); ++i) out[i] = uint8_t(row[i] - left[i]);
            for (std::size_t i = b; i < n; ++i) out[i] = uint8_t(row[i] - row[i - b]);
            break;
        case kUp:
            for (std::size_t i = 0; i < n; ++i) out[i] = uint8_t(row[i] - prior[i]);
            break;
        case kPaeth:
            for (std::size_t i = 0; i < std::min(b, n); ++i)
                out[i] = uint8_t(row[i] - prior[i]);
            for (std::size_t i = b; i < n; ++i)
                out[i] = uint8_t(row[i] - paeth(row[i - b], prior[i], prior[i - b]));
            break;
    }
}

}  // namespace

class PngStreamWriter::Impl {
public:
    Impl(FILE* out, uint32_t width, uint32_t height, int channels, const PngOptions& options)
        : out_(out), width_(width), height_(height), channels_(channels), options_(options) {
        options_.level = std::clamp(options_.level, 0, 9);
        row_bytes_ = uint64_t(width) * uint64_t(channels);
        total_bytes_ = row_bytes_ * height;
        whole_rows_ = row_bytes_ <= kWholeRowBytes;
        filter_ = options_.level == 0 ? kNone : whole_rows_ ? kPaeth : kSub;
        rows_per_piece_ = whole_rows_ ? std::max<uint64_t>(1, kPieceBytes / std::max<uint64_t>(row_bytes_, 1)) : 1;
        unsigned threads = options_.threads > 0 ? unsigned(options_.threads)
                                                : std::min(std::max(std::thread::hardware_concurrency(), 1u), 8u);
        // Fewer threads than pieces would leave some idle.
        const uint64_t pieces = total_bytes_ / kPieceBytes + 1;
        threads = unsigned(std::min<uint64_t>(threads, pieces));
        max_in_flight_ = std::size_t(threads) * 2;
        if (threads > 1) {
            try {
                for (unsigned t = 0; t < threads; ++t) pool_.emplace_back([this] { work(); });
            } catch (const std::exception&) {
                // Fewer threads than asked for: those that started do the work (or this
                // thread alone, when none did).
            }
        }
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_workers_.notify_all();
        for (std::thread& thread : pool_) thread.join();
    }

    bool start(std::string* error) {
        if (width_ == 0 || height_ == 0 || width_ > 0x7FFFFFFFu || height_ > 0x7FFFFFFFu ||
            (channels_ != 1 && channels_ != 3)) {
            *error = "a PNG holds 1 to 2147483647 rows and columns of grey or RGB pixels";
            return false;
        }
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        if (std::fwrite(signature, 1, 8, out_) != 8) return write_failed(error);
        uint8_t header[13];
        put_be32(header, width_);
        put_be32(header + 4, height_);
        header[8] = 8;                         // bits per sample
        header[9] = channels_ == 1 ? 0 : 2;    // grey or RGB
        header[10] = header[11] = header[12] = 0;  // deflate, adaptive filters, no interlace
        if (!chunk("IHDR", header, 13, nullptr, 0, error)) return false;
        if (options_.pixels_per_inch > 0) {
            const auto per_metre =
                static_cast<uint32_t>(std::lround(options_.pixels_per_inch / 0.0254));
            uint8_t physical[9];
            put_be32(physical, per_metre);
            put_be32(physical + 4, per_metre);
            physical[8] = 1;  // metres
            if (!chunk("pHYs", physical, 9, nullptr, 0, error)) return false;
        }
        return true;
    }

    bool write(const uint8_t* bytes, std::size_t count, std::string* error) {
        if (count > total_bytes_ - received_) {
            *error = "more picture data than the PNG's size";
            return false;
        }
        while (count > 0) {
            if (!current_) {
                current_ = std::make_unique<Piece>();
                const uint64_t in_row = received_ % row_bytes_;
                const uint64_t size =
                    whole_rows_ ? std::min<uint64_t>(rows_per_piece_ * row_bytes_,
                                                     total_bytes_ - received_)
                                : std::min<uint64_t>(kPieceBytes, row_bytes_ - in_row);
                current_->input.reserve(size);
                current_->starts_row = in_row == 0;
                if (whole_rows_) {
                    current_->above = previous_row_;
                    if (current_->above.empty()) current_->above.assign(row_bytes_, 0);
                } else {
                    std::copy(carry_, carry_ + 3, current_->carry);
                }
                current_size_ = size;
            }
            const std::size_t take = std::size_t(std::min<uint64_t>(count, current_size_ - current_->input.size()));
            current_->input.insert(current_->input.end(), bytes, bytes + take);
            bytes += take;
            count -= take;
            received_ += take;
            if (current_->input.size() == current_size_) {
                if (!submit(error)) return false;
            }
        }
        return true;
    }

    bool finish(std::string* error) {
        if (received_ != total_bytes_) {
            *error = "the picture ended before its last row";
            return false;
        }
        while (!in_flight_.empty()) {
            if (!write_front(error)) return false;
        }
        if (!chunk("IEND", nullptr, 0, nullptr, 0, error)) return false;
        return true;
    }

private:
    bool submit(std::string* error) {
        Piece& piece = *current_;
        piece.last = received_ == total_bytes_;
        // What the next piece needs from this one: the last row, or the last pixel.
        if (whole_rows_) {
            previous_row_.assign(piece.input.end() - std::ptrdiff_t(row_bytes_), piece.input.end());
        } else if (piece.input.size() >= std::size_t(channels_)) {
            std::copy(piece.input.end() - channels_, piece.input.end(), carry_);
        }
        if (received_ % row_bytes_ == 0) std::fill(carry_, carry_ + 3, uint8_t{0});
        std::shared_ptr<Piece> shared(std::move(current_));
        if (pool_.empty()) {
            compress(*shared);
            in_flight_.push_back(shared);
            return write_front(error);
        }
        {
            std::lock_guard lock(mutex_);
            todo_.push_back(shared);
            in_flight_.push_back(shared);
        }
        wake_workers_.notify_one();
        while (in_flight_.size() >= max_in_flight_ || front_done()) {
            if (!write_front(error)) return false;
        }
        return true;
    }

    bool front_done() {
        std::lock_guard lock(mutex_);
        return !in_flight_.empty() && in_flight_.front()->done;
    }

    void work() {
        for (;;) {
            std::shared_ptr<Piece> piece;
            {
                std::unique_lock lock(mutex_);
                wake_workers_.wait(lock, [&] { return stop_ || !todo_.empty(); });
                if (todo_.empty()) return;
                piece = todo_.front();
                todo_.pop_front();
            }
            compress(*piece);
            {
                std::lock_guard lock(mutex_);
                piece->done = true;
            }
            piece_done_.notify_all();
        }
    }

    // Filters and deflates one piece (any thread).
    void compress(Piece& piece) {
        try {
            const std::size_t n = piece.input.size();
            const std::size_t rows = whole_rows_ ? n / std::size_t(row_bytes_) : 0;
            const std::size_t stride = std::size_t(row_bytes_) + 1;
            const std::size_t size = whole_rows_ ? rows * stride : n + (piece.starts_row ? 1 : 0);
            // Not zeroed: every byte is written by the filters.
            std::unique_ptr<uint8_t[]> filtered(new uint8_t[size]);
            if (whole_rows_) {
                const uint8_t* prior = piece.above.data();
                for (std::size_t r = 0; r < rows; ++r) {
                    const uint8_t* row = piece.input.data() + r * std::size_t(row_bytes_);
                    filtered[r * stride] = filter_;
                    filter_row(filter_, row, prior, nullptr, std::size_t(row_bytes_), channels_,
                               filtered.get() + r * stride + 1);
                    prior = row;
                }
            } else {
                const std::size_t head = piece.starts_row ? 1 : 0;
                if (head) filtered[0] = filter_;
                filter_row(filter_, piece.input.data(), nullptr, piece.carry, n, channels_,
                           filtered.get() + head);
            }
            piece.input = std::vector<uint8_t>();
            piece.above = std::vector<uint8_t>();
            piece.filtered_bytes = size;
            piece.adler = adler32_z(1, filtered.get(), size);

            if (options_.level <= 1) {
                piece.output.reset(new uint8_t[deflate_literals_bound(size) + 2]);
                piece.output_size =
                    deflate_literals(filtered.get(), size, piece.last, options_.level == 0,
                                     piece.output.get() + 2) + 2;
                return;
            }
            z_stream z{};
            if (deflateInit2(&z, options_.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
                piece.failed = true;
                return;
            }
            const std::size_t room = deflateBound(&z, uLong(size)) + 16;
            piece.output.reset(new uint8_t[room + 2]);
            z.next_in = filtered.get();
            z.avail_in = uInt(size);
            z.next_out = piece.output.get() + 2;
            z.avail_out = uInt(room);
            const int result = deflate(&z, piece.last ? Z_FINISH : Z_SYNC_FLUSH);
            const bool ok = piece.last ? result == Z_STREAM_END : (result == Z_OK && z.avail_in == 0);
            piece.output_size = room - z.avail_out + 2;
            deflateEnd(&z);
            piece.failed = !ok;
        } catch (const std::bad_alloc&) {
            piece.failed = true;
        }
    }

    // Waits for the oldest piece and writes it as one data chunk.
    bool write_front(std::string* error) {
        std::shared_ptr<Piece> piece;
        {
            std::unique_lock lock(mutex_);
            piece_done_.wait(lock, [&] { return pool_.empty() || in_flight_.front()->done; });
            piece = in_flight_.front();
            in_flight_.pop_front();
        }
        if (piece->failed) {
            *error = "cannot compress the PNG data (out of memory?)";
            return false;
        }
        // The compressed data starts two bytes in, where the zlib header goes in the first
        // piece.
        uint8_t* data = piece->output.get() + 2;
        std::size_t bytes = piece->output_size - 2;
        if (!wrote_header_) {
            uint8_t head[2];
            // 32 KB window; the level hint; a check making the two bytes a multiple of 31.
            const int hint = options_.level < 2 ? 0 : options_.level < 6 ? 1 : options_.level == 6 ? 2 : 3;
            head[0] = 0x78;
            head[1] = uint8_t(hint << 6);
            head[1] = uint8_t(head[1] + (31 - (head[0] * 256 + head[1]) % 31));
            data -= 2;
            bytes += 2;
            data[0] = head[0];
            data[1] = head[1];
            wrote_header_ = true;
        }
        adler_ = adler32_combine(adler_, piece->adler, z_off_t(piece->filtered_bytes));
        uint8_t tail[4];
        put_be32(tail, uint32_t(adler_));
        return chunk("IDAT", data, bytes, tail, piece->last ? 4 : 0, error);
    }

    bool chunk(const char* type, const uint8_t* data, std::size_t bytes, const uint8_t* more,
               std::size_t more_bytes, std::string* error) {
        uint8_t head[8];
        put_be32(head, uint32_t(bytes + more_bytes));
        std::copy(type, type + 4, head + 4);
        uLong crc = crc32_z(0, head + 4, 4);
        if (bytes) crc = crc32_z(crc, data, bytes);
        if (more_bytes) crc = crc32_z(crc, more, more_bytes);
        uint8_t check[4];
        put_be32(check, uint32_t(crc));
        if (std::fwrite(head, 1, 8, out_) != 8 ||
            (bytes && std::fwrite(data, 1, bytes, out_) != bytes) ||
            (more_bytes && std::fwrite(more, 1, more_bytes, out_) != more_bytes) ||
            std::fwrite(check, 1, 4, out_) != 4) {
            return write_failed(error);
        }
        return true;
    }

    static bool write_failed(std::string* error) {
        *error = "cannot write the PNG output (disk full?)";
        return false;
    }

    FILE* out_;
    uint32_t width_, height_;
    int channels_;
    PngOptions options_;
    uint64_t row_bytes_ = 0, total_bytes_ = 0, received_ = 0;
    bool whole_rows_ = true;
    Filter filter_ = kUp;
    uint64_t rows_per_piece_ = 1;
    std::vector<uint8_t> previous_row_;
    uint8_t carry_[3] = {};
    std::unique_ptr<Piece> current_;
    uint64_t current_size_ = 0;
    bool wrote_header_ = false;
    uLong adler_ = 1;

    std::vector<std::thread> pool_;
    std::size_t max_in_flight_ = 2;
    std::mutex mutex_;
    std::condition_variable wake_workers_, piece_done_;
    std::deque<std::shared_ptr<Piece>> todo_, in_flight_;
    bool stop_ = false;
};

PngStreamWriter::PngStreamWriter(FILE* out, uint32_t width, uint32_t height, int channels,
                                 const PngOptions& options)
    : impl_(std::make_unique<Impl>(out, width, height, channels, options)) {}
PngStreamWriter::~PngStreamWriter() = default;
bool PngStreamWriter::start(std::string* error) { return impl_->start(error); }
bool PngStreamWriter::write(const uint8_t* bytes, std::size_t count, std::string* error) {
    return impl_->write(bytes, count, error);
}
bool PngStreamWriter::finish(std::string* error) { return impl_->finish(error); }

bool write_png(FILE* out, const uint8_t* pixels, uint32_t width, uint32_t height, int channels,
               std::size_t stride, const PngOptions& options, std::string* error) {
    PngStreamWriter writer(out, width, height, channels, options);
    if (!writer.start(error)) return false;
    const std::size_t row_bytes = std::size_t(width) * std::size_t(channels);
    for (uint32_t y = 0; y < height; ++y) {
        if (!writer.write(pixels + std::size_t(y) * stride, row_bytes, error)) return false;
    }
    return writer.finish(error);
}

}  // namespace kavel_output
