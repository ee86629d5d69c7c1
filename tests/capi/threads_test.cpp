// One image decoded from several threads at once, and one window decoded on several threads,
// give the bytes of one thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "kavel/kavel.h"
#include "tests/capi/capi_files.h"

namespace {

TEST(Threads, FourThreadsDecodingOneImageGetWhatOneThreadGets) {
    kavel_test::TempDir dir;
    const std::string path = dir.path("colour.kvl");
    capi_test::make_file(path, 3, 3, 400, 300, 21);
    kavel_image* image = nullptr;
    ASSERT_EQ(kavel_open_path(path.c_str(), &image), KAVEL_OK);
    // Each thread decodes its own list of windows at several scales; one thread first.
    std::vector<std::pair<int32_t, kavel_window>> jobs;
    for (int32_t scale = 0; scale <= 2; ++scale) {
        for (int32_t k = 0; k < 6; ++k) {
            jobs.push_back({scale, kavel_window{k * 37 - 10, k * 23, k * 37 + 150, k * 23 + 120}});
        }
    }
    std::vector<std::vector<uint8_t>> alone;
    for (const auto& [scale, w] : jobs) {
        alone.push_back(capi_test::decode(image, scale, w, 3, 161 * 3).pixels);
    }
    std::vector<std::vector<std::vector<uint8_t>>> together(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            // Each thread goes through the jobs in another order.
            for (std::size_t i = 0; i < jobs.size(); ++i) {
                const auto& [scale, w] = jobs[(i + static_cast<std::size_t>(t) * 5) % jobs.size()];
                together[t].push_back(capi_test::decode(image, scale, w, 3, 161 * 3).pixels);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            const std::size_t job = (i + static_cast<std::size_t>(t) * 5) % jobs.size();
            EXPECT_EQ(together[t][i], alone[job]) << "thread " << t << " job " << job;
        }
    }
    kavel_close(image);
}

TEST(Threads, AWindowOnSeveralThreadsGivesTheSameBytes) {
    kavel_test::TempDir dir;
    for (const int32_t planes : {1, 3}) {
        const std::string path = dir.path("image.kvl");
        capi_test::make_file(path, planes, 2, 333, 250, 30u + planes);
        kavel_image* image = nullptr;
        ASSERT_EQ(kavel_open_path(path.c_str(), &image), KAVEL_OK);
        for (const kavel_window& w : {kavel_window{0, 0, 332, 249}, kavel_window{-7, 3, 340, 260}}) {
            const std::size_t stride = static_cast<std::size_t>(w.x1 - w.x0 + 1) * planes + 3;
            const auto one = capi_test::decode(image, 0, w, planes, stride, 1);
            ASSERT_EQ(one.status, KAVEL_OK) << kavel_last_error();
            EXPECT_EQ(one.pixels, capi_test::reference_pixels(path, 0, w, planes, stride));
            for (const int32_t threads : {0, 2, 3, 7}) {
                const auto many = capi_test::decode(image, 0, w, planes, stride, threads);
                ASSERT_EQ(many.status, KAVEL_OK) << kavel_last_error();
                EXPECT_EQ(many.pixels, one.pixels) << "planes " << planes << ", " << threads;
            }
        }
        kavel_close(image);
    }
}

}  // namespace
