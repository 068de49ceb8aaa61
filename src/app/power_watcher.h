// PowerWatcher: chooses the measurement timer's period from the window's mode and the power
// supply: 60 s while hidden, 5 s shown on mains, 15 s shown on battery or unknown power. A
// power sample is reused for 30 s. The main controller asks whenever it arms the measurement
// timer; UI thread only.
#pragma once

#include <cstdint>

namespace quillon {

class Clock;
class System;

constexpr uint32_t kChillIntervalMs = 60000;
constexpr uint32_t kActiveMainsIntervalMs = 5000;
constexpr uint32_t kActiveBatteryIntervalMs = 15000;
constexpr uint64_t kPowerSampleReuseMs = 30000;

enum class PowerState : int32_t { Ac = 0, Battery = 1, Unknown = 2 };

// "AC", "Battery", "Unknown"; any other value "Invalid".
const char* PowerStateName(int32_t state);

class PowerWatcher {
public:
    PowerWatcher(Clock& clock, System& system) : clock_(clock), system_(system) {}

    // The period of the measurement timer in milliseconds.
    uint32_t GetMeasurementInterval(bool active);

    PowerState CachedState() const { return cached_; }

private:
    Clock& clock_;
    System& system_;
    PowerState cached_ = PowerState::Unknown;
    uint64_t lastSample_ = 0;  // tick of the last sample, when sampled_
    bool sampled_ = false;
};

}  // namespace quillon
