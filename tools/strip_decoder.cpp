#include "tools/strip_decoder.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

int64_t strip_rows_for(int64_t columns) {
    int64_t rows = (int64_t{1} << 21) / (columns > 0 ? columns : 1);
    return std::clamp<int64_t>(rows, 16, 1024);
}

namespace {

// One strip's pixels on their way from a decoding thread to the writer. Strip i goes into slot
// i mod slots; a thread waits until the writer has emptied the slot's previous strip.
struct Slot {
    std::vector<uint8_t> pixels;
    int64_t strip = -1;  // the strip held (or being decoded)
    bool done = false;   // decoded (or failed)
    bool decoded = false;
    std::string error;
};

}  // namespace

bool decode_in_strips(const kavel::Image& image, int32_t scale, const kavel::Window& window,
                      int64_t strip_rows, int threads, RowWriter& writer, std::string* error,
                      bool* failed_in_output) {
    *failed_in_output = false;
    const int64_t columns = window.columns();
    const int64_t rows = window.rows();
    const int64_t row_bytes = columns * image.info().planes;
    const int64_t strip = std::max<int64_t>(strip_rows, 1);
    const int64_t strip_count = (rows + strip - 1) / strip;
    const int64_t workers = std::clamp<int64_t>(threads, 1, std::max<int64_t>(strip_count, 1));
    // One slot more than threads, so that a thread can decode while the writer writes.
    const int64_t slot_count = std::min(strip_count, workers + 1);
    std::vector<Slot> slots(static_cast<size_t>(slot_count));
    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<int64_t> next{0};
    bool stop = false;
    int64_t written = 0;  // strips the writer has finished with

    auto work = [&] {
        for (;;) {
            const int64_t i = next.fetch_add(1);
            if (i >= strip_count) return;
            Slot& slot = slots[static_cast<size_t>(i % slot_count)];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return stop || written >= i - slot_count + 1; });
                if (stop) return;
                slot.strip = i;
                slot.done = false;
            }
            const int64_t top = i * strip;
            const int64_t count = std::min(strip, rows - top);
            slot.pixels.resize(static_cast<size_t>(row_bytes * count));
            const kavel::Window part{window.x0, static_cast<int32_t>(window.y0 + top), window.x1,
                                     static_cast<int32_t>(window.y0 + top + count - 1)};
            std::string reason;
            const bool ok = image.decode(scale, part, slot.pixels.data(),
                                         static_cast<size_t>(row_bytes), &reason);
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
    for (int64_t t = 0; t < workers; ++t) pool.emplace_back(work);
    bool ok = true;
    for (int64_t i = 0; i < strip_count && ok; ++i) {
        Slot& slot = slots[static_cast<size_t>(i % slot_count)];
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slot.strip == i && slot.done; });
        }
        if (!slot.decoded) {
            *error = slot.error;
            ok = false;
            break;
        }
        const int64_t count = static_cast<int64_t>(slot.pixels.size()) / row_bytes;
        if (!writer.write_rows(slot.pixels.data(), count, row_bytes, error)) {
            *failed_in_output = true;
            ok = false;
        }
        {
            std::lock_guard guard(mutex);
            written = i + 1;
        }
        changed.notify_all();
    }
    {
        std::lock_guard guard(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& thread : pool) thread.join();
    return ok;
}
