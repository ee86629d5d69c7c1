#include "tools/strip_decoder.h"

#include "format/strip_cuts.h"
#include "tools/heap_settings.h"
#include "tools/library_messages.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <exception>
#include <new>
#include <thread>
#include <vector>

PiecePlan plan_pieces(int64_t columns, int32_t planes, int64_t max_rows) {
    const int64_t row_samples = std::max<int64_t>(columns, 1) * std::max<int32_t>(planes, 1);
    PiecePlan plan;
    plan.columns = std::max<int64_t>(columns, 1);
    if (row_samples > kPieceSamples) {
        plan.rows = 1;
        plan.columns = std::max<int64_t>(kPieceSamples / std::max<int32_t>(planes, 1), 1);
    } else {
        plan.rows = std::clamp<int64_t>(kPieceSamples / row_samples, 1,
                                        std::clamp<int64_t>(max_rows, 1, 1024));
    }
    return plan;
}

PiecePlan plan_pieces(int64_t columns, int32_t planes, int64_t max_rows, int64_t window_top,
                      int32_t scale, int32_t levels, int threads) {
    PiecePlan plan = plan_pieces(columns, planes, max_rows);
    if (plan.columns < columns) return plan;
    const int64_t cap = std::max(2 * kPieceSamples, 4 * kPieceSamples / std::max(threads, 1));
    const int64_t placed = placed_strip_rows(columns * std::max<int32_t>(planes, 1),
                                             kPieceSamples, cap);
    if (placed > plan.rows) plan.rows = std::min(placed, std::clamp<int64_t>(max_rows, 1, 1024));
    const StripRows strips = strip_rows(window_top, plan.rows, strip_cut_phase(scale, levels));
    plan.first_rows = strips.first;
    plan.rows = strips.rows;
    return plan;
}

namespace {

// One piece's pixels on their way from a decoding thread to the writer. Piece i goes into slot
// i mod slots; a thread waits until the writer has emptied the slot's previous piece.
struct Slot {
    std::vector<uint8_t> pixels;
    int64_t piece = -1;  // the piece held (or being decoded)
    bool done = false;   // decoded (or failed)
    bool decoded = false;
    std::string error;
};

}  // namespace

bool decode_in_strips(const kavel::Image& image, int32_t scale, const kavel::Window& window,
                      const PiecePlan& plan, int threads, RowWriter& writer, std::string* error,
                      bool* failed_in_output,
                      const std::function<void(int64_t, int64_t)>& progress) {
    *failed_in_output = false;
    const int64_t columns = kavel::columns(window);
    const int64_t rows = kavel::rows(window);
    const int64_t planes = image.info().planes;
    const int64_t part = std::clamp<int64_t>(plan.columns, 1, columns);
    // Rows cut across the width go one at a time, so that the bytes stay in order.
    const int64_t strip = part < columns ? 1 : std::max<int64_t>(plan.rows, 1);
    // The first strip of whole rows may be shorter or taller than the others.
    const int64_t first =
        part < columns || plan.first_rows <= 0 ? strip : std::min(plan.first_rows, rows);
    // Pieces run along a row (when rows are cut), then down.
    const int64_t across = (columns + part - 1) / part;
    const int64_t down = 1 + (rows - first + strip - 1) / strip;
    const int64_t piece_count = across * down;
    const int64_t workers = std::clamp<int64_t>(threads, 1, std::max<int64_t>(piece_count, 1));
    // One slot more than threads, so that a thread can decode while the writer writes.
    const int64_t slot_count = std::min(piece_count, workers + 1);
    std::vector<Slot> slots(static_cast<size_t>(slot_count));
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int64_t> next{0};
    bool stop = false;
    int64_t written = 0;  // pieces the writer has finished with

    auto work = [&] {
        if (plan.large_page_heap > 0) kavel_tools::use_large_page_heap(plan.large_page_heap);
        for (;;) {
            const int64_t i = next.fetch_add(1);
            if (i >= piece_count) return;
            Slot& slot = slots[static_cast<size_t>(i % slot_count)];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || written >= i - slot_count + 1; });
                if (stop) return;
                slot.piece = i;
                slot.done = false;
            }
            const int64_t down_index = i / across;
            const int64_t top = down_index == 0 ? 0 : first + (down_index - 1) * strip;
            const int64_t left = (i % across) * part;
            const int64_t count = std::min(down_index == 0 ? first : strip, rows - top);
            const int64_t width = std::min(part, columns - left);
            const kavel::Window piece{static_cast<int32_t>(window.x0 + left),
                                      static_cast<int32_t>(window.y0 + top),
                                      static_cast<int32_t>(window.x0 + left + width - 1),
                                      static_cast<int32_t>(window.y0 + top + count - 1)};
            std::string reason;
            bool ok = false;
            try {
                slot.pixels.resize(static_cast<size_t>(width * planes * count));
                image.decode(scale, piece, slot.pixels, static_cast<size_t>(width * planes));
                ok = true;
            } catch (const kavel::Error& failure) {
                reason = kavel_tools::reason_of(failure, "");
            } catch (const std::bad_alloc&) {
                reason = "out of memory";
            }
            {
                std::lock_guard lock(mutex);
                slot.decoded = ok;
                slot.error = std::move(reason);
                slot.done = true;
            }
            changed.notify_all();
        }
    };

    // The decoding threads fill the slots; this thread writes them out in order.
    std::vector<std::thread> pool;
    try {
        for (int64_t t = 0; t < workers; ++t) pool.emplace_back(work);
    } catch (const std::exception&) {
        // Fewer threads than asked for: go on with those that started.
    }
    if (pool.empty()) {
        *error = "cannot start a decoding thread";
        return false;
    }
    bool ok = true;
    for (int64_t i = 0; i < piece_count && ok; ++i) {
        Slot& slot = slots[static_cast<size_t>(i % slot_count)];
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slot.piece == i && slot.done; });
        }
        if (!slot.decoded) {
            *error = slot.error;
            ok = false;
            break;
        }
        // Nothing may leave this loop by an exception while the threads run.
        bool wrote = false;
        try {
            wrote = writer.write(slot.pixels.data(), slot.pixels.size(), error);
        } catch (const std::bad_alloc&) {
            *error = "out of memory";
        } catch (const std::exception& failure) {
            *error = failure.what();
        }
        if (!wrote) {
            *failed_in_output = true;
            ok = false;
        }
        {
            std::lock_guard guard(mutex);
            written = i + 1;
        }
        changed.notify_all();
        if (progress) progress(i + 1, piece_count);
    }
    {
        std::lock_guard guard(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& thread : pool) thread.join();
    return ok;
}
