// Waits in real time, for tests whose work runs on real threads or other processes: true as
// soon as `check` holds, false when it still does not after `limit`.
#pragma once

#include <chrono>
#include <thread>

namespace quillon::test {

template <class F>
bool Eventually(F check, std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!check()) {
        if (std::chrono::steady_clock::now() > deadline) return check();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace quillon::test
