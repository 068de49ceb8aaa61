// LinuxClock: the Clock port over the C++ steady and system clocks and the C library's local
// time. The entry point creates one for the process; any thread may call it.
#pragma once

#include "platform/clock.h"

namespace quillon::lnx {

class LinuxClock final : public Clock {
public:
    uint64_t Tick64() override;
    int64_t UnixSeconds() override;
    LocalTime Local() override;
    int64_t MonotonicNs() override;
    void Sleep(uint32_t ms) override;
};

}  // namespace quillon::lnx
