#include "tools/progress_bar.h"

#include <cstdio>

#include <unistd.h>

namespace kavel_tools {

namespace {
constexpr auto kQuietTime = std::chrono::seconds(1);
constexpr auto kRedrawTime = std::chrono::milliseconds(100);
}  // namespace

ProgressBar::ProgressBar(std::string label, bool enabled)
    : label_(std::move(label)),
      enabled_(enabled && ::isatty(2) == 1),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

ProgressBar::~ProgressBar() {
    if (ticker_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stop_changed_.notify_all();
        ticker_.join();
    }
    if (drawn_) std::fprintf(stderr, "\r\033[K");
}

void ProgressBar::update(int64_t done, int64_t total) {
    if (!enabled_ || total <= 0) return;
    fraction_ = double(done) / double(total);
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < kQuietTime || now - last_draw_ < kRedrawTime) return;
    last_draw_ = now;
    draw(true);
}

void ProgressBar::tick_until_done() {
    if (!enabled_) return;
    ticker_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        if (stop_changed_.wait_for(lock, kQuietTime, [&] { return stop_; })) return;
        do {
            draw(false);
        } while (!stop_changed_.wait_for(lock, kRedrawTime * 5, [&] { return stop_; }));
    });
}

void ProgressBar::draw(bool with_fraction) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (with_fraction) {
        constexpr int kWidth = 30;
        const double fraction = fraction_;
        const int filled = int(fraction * kWidth);
        char bar[kWidth + 1];
        for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
        bar[kWidth] = '\0';
        std::fprintf(stderr, "\r%s [%s] %3d%% %.0f s", label_.c_str(), bar, int(fraction * 100),
                     seconds);
    } else {
        std::fprintf(stderr, "\r%s... %.0f s", label_.c_str(), seconds);
    }
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace kavel_tools
