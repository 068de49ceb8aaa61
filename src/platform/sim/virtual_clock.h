// VirtualClock: a Clock whose time moves only when told to. Tests advance it to run minutes
// of behaviour in milliseconds; Sleep() lets the time pass at once instead of blocking.
// Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace quillon::sim {

class VirtualClock final : public Clock {
public:
    // Starts at the given local calendar time; the tick counter starts at startTickMs (the
    // system has been up that long) and Unix time at startUnixSeconds.
    explicit VirtualClock(LocalTime start = {2026, 12, 5, 7, 41, 59, 0},
                          uint64_t startTickMs = 3'600'000,
                          int64_t startUnixSeconds = 1'796'456'519);

    uint64_t Tick64() override;
    int64_t UnixSeconds() override;
    LocalTime Local() override;
    int64_t MonotonicNs() override;
    void Sleep(uint32_t ms) override;
    bool SleepUnlessWoken(uint32_t ms, Wakeup& wakeup) override;

    // Moves every reading forward by ms.
    void Advance(uint64_t ms);
    // Milliseconds advanced since construction.
    uint64_t Elapsed();

private:
    std::mutex mutex_;
    LocalTime start_;
    uint64_t startTick_;
    int64_t startUnixMs_;
    uint64_t elapsedMs_ = 0;
};

}  // namespace quillon::sim
