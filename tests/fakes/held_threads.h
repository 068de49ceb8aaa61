// Threads that hold detached work until the test runs it: what callers see while a worker is
// busy. Joinable work is not supported.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/threads.h"

namespace quillon::test {

class HeldThreads final : public Threads {
public:
    bool StartDetached(std::function<void()> work) override {
        held.push_back(std::move(work));
        return true;
    }
    std::unique_ptr<Worker> StartJoinable(std::function<void()>) override { return nullptr; }
    void RunHeld() {
        auto work = std::move(held);
        held.clear();
        for (auto& w : work) w();
    }
    std::vector<std::function<void()>> held;
};

}  // namespace quillon::test
