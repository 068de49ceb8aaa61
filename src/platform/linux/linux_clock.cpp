#include "platform/linux/linux_clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace quillon::lnx {

namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::seconds;

}  // namespace

// The steady clock counts from boot on Linux, which is what a tick counter means here.
uint64_t LinuxClock::Tick64() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(duration_cast<milliseconds>(now).count());
}

int64_t LinuxClock::UnixSeconds() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return duration_cast<seconds>(now).count();
}

LocalTime LinuxClock::Local() {
    const auto now = std::chrono::system_clock::now();
    const auto sinceEpoch = now.time_since_epoch();
    const auto wholeSeconds = duration_cast<seconds>(sinceEpoch);
    const time_t t = static_cast<time_t>(wholeSeconds.count());
    struct tm parts {};
    LocalTime out;
    if (localtime_r(&t, &parts) == nullptr) return out;
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    // A leap second (tm_sec 60) is shown as the last second of its minute.
    out.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
    out.millisecond =
        static_cast<int>(duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count());
    return out;
}

int64_t LinuxClock::MonotonicNs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return duration_cast<nanoseconds>(now).count();
}

void LinuxClock::Sleep(uint32_t ms) {
    std::this_thread::sleep_for(milliseconds(ms));
}

}  // namespace quillon::lnx
