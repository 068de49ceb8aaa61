// SimThreads: Threads for tests. Inline mode runs each piece of work on the caller at once, so
// a test sees its effects on return; Threaded mode runs real threads and lets the test wait
// until every detached worker has finished. Starts can be made to fail to test the fallbacks.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/threads.h"

namespace quillon::sim {

enum class ThreadMode { Inline, Threaded };

class SimThreads final : public Threads {
public:
    explicit SimThreads(ThreadMode mode = ThreadMode::Inline) : mode_(mode) {}
    ~SimThreads() override;  // waits for detached workers still running

    bool StartDetached(std::function<void()> work) override;
    std::unique_ptr<Worker> StartJoinable(std::function<void()> work) override;

    // Every later start fails (returns false or null) while set.
    void SetFailStarts(bool fail);
    // Blocks until no detached worker is running.
    void WaitIdle();
    // How many workers were started so far (detached and joinable).
    int StartedCount();

private:
    const ThreadMode mode_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int running_ = 0;
    int started_ = 0;
    bool failStarts_ = false;
};

}  // namespace quillon::sim
