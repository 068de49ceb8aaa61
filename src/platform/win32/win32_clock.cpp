#include "platform/win32/win32_clock.h"

#include <windows.h>

namespace quillon::win32 {

namespace {

// FILETIME counts 100 ns intervals since 1601-01-01 UTC.
constexpr int64_t kFileTimeAtUnixEpoch = 116'444'736'000'000'000;
constexpr int64_t kFileTimePerSecond = 10'000'000;

}  // namespace

int64_t UnixSecondsOf(const FILETIME& time) {
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                               time.dwLowDateTime);
    return (ticks - kFileTimeAtUnixEpoch) / kFileTimePerSecond;
}

Win32Clock::Win32Clock() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);  // cannot fail on Windows XP and later
    counterFrequency_ = frequency.QuadPart;
}

uint64_t Win32Clock::Tick64() {
    return GetTickCount64();
}

int64_t Win32Clock::UnixSeconds() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return UnixSecondsOf(now);
}

LocalTime Win32Clock::Local() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    LocalTime out;
    out.year = now.wYear;
    out.month = now.wMonth;
    out.day = now.wDay;
    out.hour = now.wHour;
    out.minute = now.wMinute;
    out.second = now.wSecond;
    out.millisecond = now.wMilliseconds;
    return out;
}

int64_t Win32Clock::MonotonicNs() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart: counter * 1e9 would overflow after some days of
    // uptime at a 10 MHz counter.
    const int64_t seconds = counter.QuadPart / counterFrequency_;
    const int64_t rest = counter.QuadPart % counterFrequency_;
    return seconds * 1'000'000'000 + rest * 1'000'000'000 / counterFrequency_;
}

void Win32Clock::Sleep(uint32_t ms) {
    ::Sleep(ms);
}

}  // namespace quillon::win32
