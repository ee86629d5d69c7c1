#include "format/window_decode.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "format/byte_stream.h"
#include "format/pool.h"
#include "format/range_prefetch.h"
#include "format/region_decode.h"
#include "format/region_request.h"
#include "format/strip_cuts.h"

namespace {

// More threads than this gain nothing on any machine this runs on and only take memory.
constexpr int32_t kMaxThreads = 64;

std::string describe(const ImageHeader& header) {
    return "planes " + std::to_string(header.planes) + ", levels " +
           std::to_string(header.levels) + ", size " + std::to_string(header.width) + " x " +
           std::to_string(header.height);
}

bool same_header(const ImageHeader& a, const ImageHeader& b) {
    return a.planes == b.planes && a.levels == b.levels && a.width == b.width &&
           a.height == b.height;
}

DecodeStatus fail(DecodeStatus status, std::string* message, std::string text) {
    if (message != nullptr) *message = std::move(text);
    return status;
}

// The header the source holds now against the one the image was opened with.
DecodeStatus check_unchanged(const ByteSource& source, const ImageHeader& opened,
                             std::string* message) {
    ImageHeader now{};
    std::string reason;
    const DecodeStatus read = read_source_header(source, &now, &reason);
    if (read == DecodeStatus::io) return fail(read, message, reason);
    if (read != DecodeStatus::ok) {
        return fail(DecodeStatus::source_changed, message,
                    "the source no longer holds the image it was opened with (" + reason + ")");
    }
    if (!same_header(now, opened)) {
        return fail(DecodeStatus::source_changed, message,
                    "the source no longer holds the image it was opened with (header now " +
                        describe(now) + ", opened with " + describe(opened) + ")");
    }
    return DecodeStatus::ok;
}

// One piece into rows of exactly its width: a request made from the source, checked against
// the opened header, decoded.
// The memory limit of one decode on this thread's pool, for as long as it runs.
class ThreadPoolLimit {
  public:
    explicit ThreadPoolLimit(uint64_t bytes)
        : previous_(pool_set_thread_limit(static_cast<std::size_t>(bytes))) {}
    ~ThreadPoolLimit() { pool_set_thread_limit(previous_); }
    ThreadPoolLimit(const ThreadPoolLimit&) = delete;
    ThreadPoolLimit& operator=(const ThreadPoolLimit&) = delete;

  private:
    std::size_t previous_;
};

DecodeStatus decode_piece_rows(const ByteSource& source, const ImageHeader& opened, int32_t scale,
                               const PixelWindow& piece, uint8_t* buffer,
                               const WindowDecodeSettings& settings, std::string* message) {
    const auto stride = static_cast<int32_t>(piece.columns() * opened.planes);
    const ThreadPoolLimit memory(settings.memory);
    pool_clear_limit_reached();
    RegionRequest* request = nullptr;
    const int made = make_region_request(source, &request, scale, piece.x0, piece.x1, piece.y0,
                                         piece.y1, stride);
    if (made != 0) {
        if (request == nullptr) return fail(DecodeStatus::out_of_memory, message, "out of memory");
        free_region_request(request);
        const DecodeStatus changed = check_unchanged(source, opened, message);
        return changed != DecodeStatus::ok
                   ? changed
                   : fail(DecodeStatus::damaged, message, "the file's header cannot be read");
    }
    if (request->planes != opened.planes || request->levels != opened.levels ||
        request->width != opened.width || request->height != opened.height) {
        free_region_request(request);
        return check_unchanged(source, opened, message);
    }
    DecodeContext context;
    context.work_factor = settings.work_factor;
    context.decoder = settings.decoder;
    if (decode_region(source, request, buffer, &context) != 0) {
        // The pool has been released, and the request with it.
        if (pool_limit_reached()) {
            const std::string where = context.place();
            return fail(DecodeStatus::out_of_memory, message,
                        where + "out of memory: the decode needs more than " +
                            (settings.memory != 0 ? "the memory limit of " +
                                                        std::to_string(settings.memory) + " bytes"
                                                  : std::string("the memory there is")));
        }
        // Data that a change of the source has made unreadable is not damaged data.
        const DecodeStatus changed = check_unchanged(source, opened, message);
        if (changed != DecodeStatus::ok) return changed;
        if (context.status() != DecodeStatus::ok) {
            return fail(context.status(), message, context.message());
        }
        return fail(DecodeStatus::damaged, message,
                    context.place() + "the file's data is damaged or unreadable");
    }
    free_region_request(request);
    return DecodeStatus::ok;
}

// One piece into the caller's rows, stride bytes apart. The region decode clears whole rows of
// its stride where the window leaves the image, so a piece whose rows are not exactly the
// stride long (a piece of fewer columns than the window, or a stride with room between rows)
// is decoded into rows of its own and copied: the caller's other bytes are never written.
DecodeStatus decode_piece(const ByteSource& source, const ImageHeader& opened, int32_t scale,
                          const PixelWindow& piece, uint8_t* buffer, std::size_t stride,
                          const WindowDecodeSettings& settings, std::string* message) {
    const auto row_bytes = static_cast<std::size_t>(piece.columns() * opened.planes);
    if (row_bytes == stride) {
        return decode_piece_rows(source, opened, scale, piece, buffer, settings, message);
    }
    std::vector<uint8_t> rows;
    try {
        rows.resize(row_bytes * static_cast<std::size_t>(piece.rows()));
    } catch (const std::bad_alloc&) {
        return fail(DecodeStatus::out_of_memory, message, "out of memory");
    }
    const DecodeStatus status =
        decode_piece_rows(source, opened, scale, piece, rows.data(), settings, message);
    if (status != DecodeStatus::ok) return status;
    for (int64_t r = 0; r < piece.rows(); ++r) {
        std::memcpy(buffer + static_cast<std::size_t>(r) * stride,
                    rows.data() + static_cast<std::size_t>(r) * row_bytes, row_bytes);
    }
    return DecodeStatus::ok;
}

// The pieces of a window in order: rows of pieces from the top, pieces left to right. Strips
// of whole rows are cut where the decode repeats the least work (the first may be shorter).
std::vector<PixelWindow> cut_into_pieces(const PixelWindow& window, const PieceSize& size,
                                         int32_t scale, int32_t levels) {
    StripRows strips{size.rows, size.rows};
    if (size.columns >= window.columns()) {
        strips = strip_rows(window.y0, size.rows, strip_cut_phase(scale, levels));
    }
    std::vector<PixelWindow> pieces;
    for (int64_t top = window.y0; top <= window.y1;
         top += top == window.y0 ? strips.first : strips.rows) {
        const int64_t rows = top == window.y0 ? strips.first : strips.rows;
        const int64_t bottom = std::min<int64_t>(window.y1, top + rows - 1);
        for (int64_t left = window.x0; left <= window.x1; left += size.columns) {
            const int64_t right = std::min<int64_t>(window.x1, left + size.columns - 1);
            pieces.push_back(PixelWindow{static_cast<int32_t>(left), static_cast<int32_t>(top),
                                         static_cast<int32_t>(right),
                                         static_cast<int32_t>(bottom)});
        }
    }
    return pieces;
}

// The decode of a window in several pieces. Each piece is decoded into rows of its own, and the
// caller's buffer is written only when every piece has succeeded: a failure leaves it as it
// was. (Keeping a copy of the caller's bytes instead would read each page of a fresh buffer
// before it is written: the system then maps a shared page of zeros first and must replace it
// on every CPU that runs the decode, which costs more than the decode on two threads.)
class PieceRun {
  public:
    PieceRun(const ByteSource& source, const ImageHeader& opened, int32_t scale,
             const PixelWindow& window, uint8_t* buffer, std::size_t stride,
             const WindowDecodeSettings& settings, std::vector<PixelWindow> pieces)
        : source_(source), opened_(opened), scale_(scale), window_(window), buffer_(buffer),
          stride_(stride), settings_(settings), pieces_(std::move(pieces)),
          decoded_(pieces_.size()) {}

    // Decodes every piece on `threads` threads (the calling one among them).
    DecodeStatus run(int32_t threads, std::string* message) {
        std::vector<std::thread> helpers;
        try {
            for (int32_t t = 1; t < threads; ++t) helpers.emplace_back([this] { work(); });
        } catch (...) {
            // Fewer threads than asked: the ones that started (and this one) do the work.
        }
        work();
        for (std::thread& helper : helpers) helper.join();
        if (failed_piece_ != kNone) {
            if (message != nullptr) *message = failure_message_;
            return failure_;
        }
        deliver();
        return DecodeStatus::ok;
    }

  private:
    static constexpr std::size_t kNone = ~std::size_t{0};

    uint8_t* piece_start(const PixelWindow& piece) const {
        return buffer_ + static_cast<std::size_t>(int64_t{piece.y0} - window_.y0) * stride_ +
               static_cast<std::size_t>((int64_t{piece.x0} - window_.x0) * opened_.planes);
    }
    std::size_t piece_row_bytes(const PixelWindow& piece) const {
        return static_cast<std::size_t>(piece.columns() * opened_.planes);
    }

    void work() {
        for (;;) {
            if (stop_.load(std::memory_order_relaxed)) return;
            const std::size_t index = next_.fetch_add(1);
            if (index >= pieces_.size()) return;
            std::string message;
            const DecodeStatus status = decode_one(index, &message);
            if (status != DecodeStatus::ok) record_failure(index, status, std::move(message));
        }
    }

    DecodeStatus decode_one(std::size_t index, std::string* message) {
        const PixelWindow& piece = pieces_[index];
        try {
            // Not zero-filled first: the decode writes every byte.
            const std::size_t bytes =
                piece_row_bytes(piece) * static_cast<std::size_t>(piece.rows());
            decoded_[index] = std::make_unique_for_overwrite<uint8_t[]>(bytes);
        } catch (const std::bad_alloc&) {
            return fail(DecodeStatus::out_of_memory, message,
                        "out of memory: no room for the rows of a piece");
        }
        return decode_piece_rows(source_, opened_, scale_, piece, decoded_[index].get(),
                                 settings_, message);
    }

    void record_failure(std::size_t index, DecodeStatus status, std::string message) {
        stop_.store(true, std::memory_order_relaxed);
        const std::lock_guard<std::mutex> lock(mutex_);
        // The first piece in order that failed names the reason, whatever the thread timing.
        if (failed_piece_ == kNone || index < failed_piece_) {
            failed_piece_ = index;
            failure_ = status;
            failure_message_ = std::move(message);
        }
    }

    // Copies every decoded piece into the caller's rows, releasing each once it is copied.
    void deliver() {
        for (std::size_t i = 0; i < pieces_.size(); ++i) {
            const PixelWindow& piece = pieces_[i];
            uint8_t* start = piece_start(piece);
            const std::size_t row_bytes = piece_row_bytes(piece);
            for (int64_t r = 0; r < piece.rows(); ++r) {
                const std::size_t row = static_cast<std::size_t>(r);
                std::memcpy(start + row * stride_, decoded_[i].get() + row * row_bytes, row_bytes);
            }
            decoded_[i].reset();
        }
    }

    const ByteSource& source_;
    const ImageHeader opened_;
    const int32_t scale_;
    const PixelWindow window_;
    uint8_t* const buffer_;
    const std::size_t stride_;
    const WindowDecodeSettings settings_;
    const std::vector<PixelWindow> pieces_;
    std::vector<std::unique_ptr<uint8_t[]>> decoded_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::size_t failed_piece_ = kNone;
    DecodeStatus failure_ = DecodeStatus::ok;
    std::string failure_message_;
};

}  // namespace

DecodeStatus read_source_header(const ByteSource& source, ImageHeader* header,
                                std::string* message) {
    ByteStream stream(source);
    if (read_image_header(&stream, header) != 0) {
        if (stream.failed()) return fail(DecodeStatus::io, message, "the source cannot be read");
        uint8_t magic[4] = {};
        stream.seek(0);
        if (stream.read(magic, 4) != 4 || std::memcmp(magic, "kvel", 4) != 0) {
            return fail(DecodeStatus::not_kavel, message,
                        "not a Kavel file (no \"kvel\" at its start)");
        }
        return fail(DecodeStatus::bad_header, message,
                    "the header is cut short: " + std::to_string(source.size()) +
                        " bytes where a header takes " + std::to_string(kHeaderSize));
    }
    if (!header_is_usable(*header)) {
        return fail(DecodeStatus::bad_header, message,
                    "the header describes no image (" + describe(*header) + ")");
    }
    return DecodeStatus::ok;
}

PieceSize piece_size(int32_t planes, const PixelWindow& window, int32_t threads,
                     int64_t samples) {
    const int64_t per_row = std::max<int64_t>(window.columns() * planes, 1);
    int64_t rows = placed_strip_rows(per_row, samples, 2 * samples);
    // Several threads share a window that would be one piece: one strip of rows each.
    if (threads > 1) {
        rows = std::min(rows, std::max(kMinPieceRows, (window.rows() + threads - 1) / threads));
    }
    if (rows >= kMinPieceRows) return PieceSize{std::min(rows, window.rows()), window.columns()};
    const int64_t piece_rows = std::min(kMinPieceRows, window.rows());
    const int64_t columns = std::max<int64_t>(samples / (piece_rows * planes), 1);
    return PieceSize{piece_rows, std::min(columns, window.columns())};
}

DecodeStatus decode_window(const ByteSource& given, const ImageHeader& opened, int32_t scale,
                           const PixelWindow& window, uint8_t* buffer, std::size_t stride,
                           const WindowDecodeSettings& settings, std::string* message) {
    if (scale < 0 || scale > opened.levels) {
        return fail(DecodeStatus::argument, message,
                    "scale " + std::to_string(scale) + " is not present (0.." +
                        std::to_string(opened.levels) + ")");
    }
    if (window.columns() < 1 || window.rows() < 1) {
        return fail(DecodeStatus::argument, message, "the window is empty");
    }
    if (buffer == nullptr) return fail(DecodeStatus::argument, message, "no buffer");
    // The pieces reuse the large blocks the ones before them gave back; none is kept after.
    struct SpareRelease {
        ~SpareRelease() { pool_release_spares(); }
    } const spares;
    const int64_t row_bytes = window.columns() * opened.planes;
    if (row_bytes > INT32_MAX || stride > static_cast<std::size_t>(INT32_MAX) ||
        static_cast<int64_t>(stride) < row_bytes) {
        return fail(DecodeStatus::argument, message,
                    "the row stride does not hold a row of the window");
    }
    if (settings.max_pixels != 0 &&
        static_cast<uint64_t>(window.columns()) * static_cast<uint64_t>(window.rows()) >
            settings.max_pixels) {
        return fail(DecodeStatus::limit, message,
                    "the window of " + std::to_string(window.columns()) + " x " +
                        std::to_string(window.rows()) + " pixels is larger than the limit of " +
                        std::to_string(settings.max_pixels) + " pixels");
    }
    // A source that reads several ranges in one request gets what the decode will read first,
    // a step at a time; the decode then reads from the bytes held.
    const std::unique_ptr<HeldRangesSource> held =
        prefetch_window(given, opened, scale, window.x0, window.y0, window.x1, window.y1);
    const ByteSource& source = held != nullptr ? *held : given;
    const DecodeStatus unchanged = check_unchanged(source, opened, message);
    if (unchanged != DecodeStatus::ok) return unchanged;
    try {
        const PieceSize size =
            piece_size(opened.planes, window, settings.threads,
                       settings.piece_samples > 0 ? settings.piece_samples : kPieceSamples);
        if (size.rows >= window.rows() && size.columns >= window.columns()) {
            return decode_piece(source, opened, scale, window, buffer, stride, settings, message);
        }
        std::vector<PixelWindow> pieces = cut_into_pieces(window, size, scale, opened.levels);
        const auto threads = static_cast<int32_t>(std::clamp<int64_t>(
            settings.threads, 1, std::min<int64_t>(kMaxThreads, static_cast<int64_t>(pieces.size()))));
        PieceRun run(source, opened, scale, window, buffer, stride, settings, std::move(pieces));
        return run.run(threads, message);
    } catch (const std::bad_alloc&) {
        return fail(DecodeStatus::out_of_memory, message, "out of memory");
    }
}
