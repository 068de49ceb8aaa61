// Clock: every reading of time the core makes goes through this port, so that tests can run
// minutes of behaviour in virtual time. Implementations are thread-safe; any thread may call.
#pragma once

#include "base/local_time.h"

#include <cstdint>

namespace quillon {

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
};

}  // namespace quillon
