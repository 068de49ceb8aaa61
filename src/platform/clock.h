// Clock: every reading of time the core makes goes through this port, so that tests can run
// minutes of behaviour in virtual time. Implementations are thread-safe; any thread may call.
#pragma once

#include "base/local_time.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace quillon {

// Lets one thread cut short another thread's SleepUnlessWoken: a worker pausing between probes
// wakes at once when it is stopped or its work changes. A notification wakes the sleeps under
// way and counts for a sleep that starts before Consume() is called.
class Wakeup {
public:
    void Notify() {
        {
            std::lock_guard lock(mutex_);
            pending_ = true;
        }
        changed_.notify_all();
    }
    // Takes a pending notification; true when there was one.
    bool Consume() {
        std::lock_guard lock(mutex_);
        return std::exchange(pending_, false);
    }

private:
    friend class Clock;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool pending_ = false;
};

// Calendar time in the user's local time zone (log lines, log and archive file names).

class Clock {
public:
    virtual ~Clock() = default;

    // Milliseconds since the system started; used for delays, rate limits and debouncing.
    virtual uint64_t Tick64() = 0;
    // The same counter cut to 32 bits (wraps after about 49.7 days); compare with unsigned
    // differences only.
    uint32_t Tick32() { return static_cast<uint32_t>(Tick64()); }

    // Seconds since 1970-01-01 UTC (telemetry and probe results).
    virtual int64_t UnixSeconds() = 0;

    // Current local calendar time with milliseconds.
    virtual LocalTime Local() = 0;

    // High-resolution monotonic nanoseconds for measuring short durations (probe timings).
    virtual int64_t MonotonicNs() = 0;

    // Blocks the calling thread for the given time. A virtual clock lets the time pass instead.
    virtual void Sleep(uint32_t ms) = 0;

    // Sleeps up to ms, or less when `wakeup` is notified (also before the call). False when
    // woken, true when the whole time passed. A virtual clock lets the time pass at once unless
    // a notification is pending.
    virtual bool SleepUnlessWoken(uint32_t ms, Wakeup& wakeup) {
        std::unique_lock lock(wakeup.mutex_);
        const bool woken = wakeup.changed_.wait_for(lock, std::chrono::milliseconds(ms),
                                                    [&] { return wakeup.pending_; });
        wakeup.pending_ = false;
        return !woken;
    }

protected:
    // For clocks whose time does not pass by itself: takes a pending notification.
    static bool TakeWakeup(Wakeup& wakeup) { return wakeup.Consume(); }
};

}  // namespace quillon
