// Win32Clock: the Clock port over the system's tick count, its precise system time, the local
// time and the performance counter. The entry point creates one for the process; any thread
// may call it.
#pragma once

#include <cstdint>

#include "platform/clock.h"

struct _FILETIME;  // windows.h's FILETIME, kept out of this header

namespace quillon::win32 {

// A FILETIME (100 ns intervals since 1601, UTC) as whole seconds of Unix time.
int64_t UnixSecondsOf(const _FILETIME& time);

class Win32Clock final : public Clock {
public:
    Win32Clock();

    uint64_t Tick64() override;
    int64_t UnixSeconds() override;
    LocalTime Local() override;
    int64_t MonotonicNs() override;
    void Sleep(uint32_t ms) override;

private:
    int64_t counterFrequency_ = 0;  // performance counter ticks per second, fixed at boot
};

}  // namespace quillon::win32
