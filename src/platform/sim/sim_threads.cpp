#include "platform/sim/sim_threads.h"

#include <thread>

namespace quillon::sim {

namespace {

class InlineWorker final : public Worker {
public:
    void Join() override {}
};

class ThreadWorker final : public Worker {
public:
    explicit ThreadWorker(std::function<void()> work) : thread_(std::move(work)) {}
    ~ThreadWorker() override { Join(); }
    void Join() override {
        if (thread_.joinable()) thread_.join();
    }

private:
    std::thread thread_;
};

}  // namespace

SimThreads::~SimThreads() { WaitIdle(); }

bool SimThreads::StartDetached(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (failStarts_) return false;
        ++started_;
        if (mode_ == ThreadMode::Threaded) ++running_;
    }
    if (mode_ == ThreadMode::Inline) {
        work();
        return true;
    }
    std::thread([this, work = std::move(work)] {
        work();
        std::lock_guard lock(mutex_);
        if (--running_ == 0) idle_.notify_all();
    }).detach();
    return true;
}

std::unique_ptr<Worker> SimThreads::StartJoinable(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (failStarts_) return nullptr;
        ++started_;
    }
    if (mode_ == ThreadMode::Inline) {
        work();
        return std::make_unique<InlineWorker>();
    }
    return std::make_unique<ThreadWorker>(std::move(work));
}

void SimThreads::SetFailStarts(bool fail) {
    std::lock_guard lock(mutex_);
    failStarts_ = fail;
}

void SimThreads::WaitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
}

int SimThreads::StartedCount() {
    std::lock_guard lock(mutex_);
    return started_;
}

}  // namespace quillon::sim
