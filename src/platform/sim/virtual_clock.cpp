#include "platform/sim/virtual_clock.h"

#include <chrono>

namespace quillon::sim {

VirtualClock::VirtualClock(LocalTime start, uint64_t startTickMs, int64_t startUnixSeconds)
    : start_(start), startTick_(startTickMs), startUnixMs_(startUnixSeconds * 1000) {}

uint64_t VirtualClock::Tick64() {
    std::lock_guard lock(mutex_);
    return startTick_ + elapsedMs_;
}

int64_t VirtualClock::UnixSeconds() {
    std::lock_guard lock(mutex_);
    return (startUnixMs_ + static_cast<int64_t>(elapsedMs_)) / 1000;
}

LocalTime VirtualClock::Local() {
    using namespace std::chrono;
    uint64_t elapsed;
    {
        std::lock_guard lock(mutex_);
        elapsed = elapsedMs_;
    }
    // Calendar arithmetic on the civil date; the virtual zone has no daylight saving.
    const sys_days startDay =
        year_month_day{year{start_.year}, month{unsigned(start_.month)}, day{unsigned(start_.day)}};
    const milliseconds startOfDay = hours{start_.hour} + minutes{start_.minute} +
                                    seconds{start_.second} + milliseconds{start_.millisecond};
    const sys_time<milliseconds> now = startDay + startOfDay + milliseconds{elapsed};
    const sys_days today = floor<days>(now);
    const year_month_day ymd{today};
    const hh_mm_ss<milliseconds> time{now - today};

    LocalTime t;
    t.year = int(ymd.year());
    t.month = int(unsigned(ymd.month()));
    t.day = int(unsigned(ymd.day()));
    t.hour = int(time.hours().count());
    t.minute = int(time.minutes().count());
    t.second = int(time.seconds().count());
    t.millisecond = int(time.subseconds().count());
    return t;
}

int64_t VirtualClock::MonotonicNs() {
    std::lock_guard lock(mutex_);
    return static_cast<int64_t>(startTick_ + elapsedMs_) * 1'000'000;
}

void VirtualClock::Sleep(uint32_t ms) {
    Advance(ms);
}

bool VirtualClock::SleepUnlessWoken(uint32_t ms, Wakeup& wakeup) {
    if (TakeWakeup(wakeup)) return false;
    Advance(ms);
    return true;
}

void VirtualClock::Advance(uint64_t ms) {
    std::lock_guard lock(mutex_);
    elapsedMs_ += ms;
}

uint64_t VirtualClock::Elapsed() {
    std::lock_guard lock(mutex_);
    return elapsedMs_;
}

}  // namespace quillon::sim
