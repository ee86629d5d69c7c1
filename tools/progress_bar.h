// A progress bar on standard error for work that takes more than about a second, drawn only
// when standard error is a terminal.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace kavel_tools {

class ProgressBar {
public:
    // label: what is being done ("decoding"); enabled false draws nothing.
    ProgressBar(std::string label, bool enabled);
    ~ProgressBar();  // clears the bar
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Records how far the work is (done of total); drawn at most ten times a second.
    void update(int64_t done, int64_t total);
    // For work whose progress is unknown: shows the time spent, from a thread of its own,
    // until the bar is destroyed.
    void tick_until_done();

private:
    void draw(bool with_fraction);

    std::string label_;
    bool enabled_;
    std::chrono::steady_clock::time_point start_, last_draw_;
    std::atomic<double> fraction_{0};
    bool drawn_ = false;
    std::thread ticker_;
    std::mutex mutex_;
    std::condition_variable stop_changed_;
    bool stop_ = false;
};

}  // namespace kavel_tools
