#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_threads.h"

namespace quillon::lnx {
namespace {

TEST(LinuxAdapters, ClockReadingsMoveTogether) {
    LinuxClock clock;
    const uint64_t tick = clock.Tick64();
    const int64_t ns = clock.MonotonicNs();
    const int64_t unixSeconds = clock.UnixSeconds();
    clock.Sleep(30);
    EXPECT_GE(clock.Tick64() - tick, 30u);
    EXPECT_GE(clock.MonotonicNs() - ns, 30'000'000);
    EXPECT_LE(clock.UnixSeconds() - unixSeconds, 1);
    EXPECT_GT(unixSeconds, 1'700'000'000);  // a real calendar date, not an offset since boot

    const LocalTime local = clock.Local();
    EXPECT_GE(local.year, 2023);
    EXPECT_TRUE(local.month >= 1 && local.month <= 12);
    EXPECT_TRUE(local.day >= 1 && local.day <= 31);
    EXPECT_TRUE(local.millisecond >= 0 && local.millisecond <= 999);
}

TEST(LinuxAdapters, WorkersRunOnThreadsOfTheirOwn) {
    LinuxThreads threads;
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    auto worker = threads.StartJoinable([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ranOn = std::this_thread::get_id();
        ran = true;
    });
    ASSERT_NE(worker, nullptr);
    worker->Join();  // waits for the work
    EXPECT_TRUE(ran);
    EXPECT_NE(ranOn, caller);
    worker->Join();  // a second join is harmless

    std::promise<void> done;
    ASSERT_TRUE(threads.StartDetached([&done] { done.set_value(); }));
    EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
}  // namespace quillon::lnx
