#include "platform/portable/std_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace quillon {
namespace {

TEST(StdThreads, WorkersRunOnThreadsOfTheirOwn) {
    StdThreads threads;
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

    // A worker that drops the last handle to itself finishes alone instead of waiting for itself.
    std::promise<void> ownDone;
    std::unique_ptr<Worker> self;
    std::mutex selfMutex;
    {
        std::lock_guard lock(selfMutex);
        self = threads.StartJoinable([&] {
            std::unique_ptr<Worker> mine;
            {
                std::lock_guard lock(selfMutex);
                mine = std::move(self);
            }
            mine.reset();
            ownDone.set_value();
        });
        ASSERT_NE(self, nullptr);
    }
    EXPECT_EQ(ownDone.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
}

}  // namespace
}  // namespace quillon
