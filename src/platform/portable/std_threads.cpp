#include "platform/portable/std_threads.h"

#include <system_error>
#include <thread>
#include <utility>

namespace quillon {

namespace {

class ThreadWorker final : public Worker {
public:
    explicit ThreadWorker(std::thread thread) : thread_(std::move(thread)) {}
    ~ThreadWorker() override { Join(); }

    void Join() override {
        if (!thread_.joinable()) return;
        // A worker that drops its own handle cannot wait for itself; let it finish alone.
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();
            return;
        }
        thread_.join();
    }

private:
    std::thread thread_;
};

}  // namespace

bool StdThreads::StartDetached(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;  // out of threads: the caller decides what that means
    }
}

std::unique_ptr<Worker> StdThreads::StartJoinable(std::function<void()> work) {
    try {
        return std::make_unique<ThreadWorker>(std::thread(std::move(work)));
    } catch (const std::system_error&) {
        return nullptr;
    }
}

}  // namespace quillon
